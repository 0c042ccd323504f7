#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/text.h"
#include "ui/log_console.h"

namespace fennwick {

namespace {

// An edit control's text model: selection, clear, replace, lengths in UTF-16 units.
class MemoryLogEdit final : public ILogEdit {
 public:
  int32_t GetWindowTextLength() override { return static_cast<int32_t>(text_.size()); }
  void SetSel(int32_t start, int32_t end) override {
    selStart_ = Clamp(start);
    selEnd_ = Clamp(end);
    if (selEnd_ < selStart_) std::swap(selStart_, selEnd_);
  }
  void ScrollCaret() override {}
  void Clear() override {
    text_.erase(static_cast<size_t>(selStart_), static_cast<size_t>(selEnd_ - selStart_));
    selEnd_ = selStart_;
  }
  void ReplaceSel(const std::u16string& text) override {
    text_.replace(static_cast<size_t>(selStart_), static_cast<size_t>(selEnd_ - selStart_), text);
    selStart_ = selEnd_ = selStart_ + static_cast<int32_t>(text.size());
  }
  std::u16string& text() { return text_; }
  std::string Text8() const { return Utf16ToCp1252(text_); }

 private:
  int32_t Clamp(int32_t v) const {
    if (v < 0 || v > static_cast<int32_t>(text_.size())) return static_cast<int32_t>(text_.size());
    return v;
  }
  std::u16string text_;
  int32_t selStart_ = 0;
  int32_t selEnd_ = 0;
};

class RecordingProgress final : public IProgressCtrl {
 public:
  void SetRange32(int32_t low, int32_t high) override {
    calls.push_back("range " + std::to_string(low) + " " + std::to_string(high));
  }
  void SetStep(int32_t step) override { calls.push_back("step " + std::to_string(step)); }
  void SetPos(int32_t pos) override { calls.push_back("pos " + std::to_string(pos)); }
  void Invalidate() override { calls.push_back("invalidate"); }
  std::vector<std::string> calls;
};

// Points the window's globals at the given controls for one test.
struct GlobalControls {
  GlobalControls(ILogEdit* edit, IProgressCtrl* progress)
      : edit_(std::exchange(g_logEdit, edit)), progress_(std::exchange(g_progressCtrl, progress)) {}
  ~GlobalControls() {
    g_logEdit = edit_;
    g_progressCtrl = progress_;
  }
  ILogEdit* edit_;
  IProgressCtrl* progress_;
};

std::u16string Units(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

TEST(LogConsole, AppendsExactlyTheFormattedTextAndContinuesTheLine) {
  MemoryLogEdit edit;
  LogPrintfTo(&edit, "MCU: ");
  LogPrintfTo(&edit, "%s|%d", "ab", 7);
  LogPrintfTo(&edit, "\r\n");
  EXPECT_EQ(edit.Text8(), "MCU: ab|7\r\n");
}

TEST(LogConsole, EmptyTextAppendsNothing) {
  MemoryLogEdit edit;
  edit.text() = u"keep";
  LogPrintfTo(&edit, "%s", "");
  EXPECT_EQ(edit.text(), u"keep");
}

TEST(LogConsole, NullControlsAreIgnored) {
  LogPrintfTo(nullptr, "nothing %s", "here");
  SetProgressRangeOn(nullptr, 5);
  SetProgressPosOn(nullptr, 5);
  GlobalControls none(nullptr, nullptr);
  LogPrintf("no control yet");
  SetProgressRange(3);
  SetProgressPos(1);
}

// The trim threshold counts UTF-16 units of the control, a CR and a LF one each.
struct TrimCase {
  const char* name;
  std::u16string before;
  std::u16string expected;  // after appending "+"
};

class LogTrim : public ::testing::TestWithParam<TrimCase> {};

TEST_P(LogTrim, TrimsOnlyAtTheThreshold) {
  MemoryLogEdit edit;
  edit.text() = GetParam().before;
  LogPrintfTo(&edit, "+");
  EXPECT_EQ(edit.text().size(), GetParam().expected.size());
  EXPECT_TRUE(edit.text() == GetParam().expected);
}

std::u16string CrLfRun(size_t pairs) {
  std::u16string s;
  for (size_t i = 0; i < pairs; ++i) s += u"\r\n";
  return s;
}

std::u16string Numbered(size_t n) {
  std::u16string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char16_t>(u'a' + i % 26));
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    LogConsole, LogTrim,
    ::testing::Values(
        // 16,383 units: no trim.
        TrimCase{"Below", Numbered(16383), Numbered(16383) + u"+"},
        // Exactly 16,384: units 0 to 8,191 go, 8,192 stay.
        TrimCase{"AtThreshold", Numbered(16384), Numbered(16384).substr(8192) + u"+"},
        // Line ends count singly: 8,192 CR LF pairs are 16,384 units.
        TrimCase{"CrLfCountedSingly", CrLfRun(8192), CrLfRun(4096) + u"+"},
        TrimCase{"CrLfBelow", CrLfRun(8191) + u"\r", CrLfRun(8191) + u"\r+"},
        // The cut falls between a CR and its LF: the log then begins with a lone LF.
        TrimCase{"CutBetweenCrAndLf", u"x" + CrLfRun(8191) + u"z", u"\n" + CrLfRun(4095) + u"z+"},
        // Non-ASCII text counts one unit per character as well.
        TrimCase{"WideUnits", std::u16string(16384, u'\u20AC'), std::u16string(8192, u'\u20AC') + u"+"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogConsole, SelectionElsewhereIsCollapsedToTheEnd) {
  MemoryLogEdit edit;
  edit.text() = u"operator typed this";
  edit.SetSel(0, 8);  // the operator selected "operator"
  LogPrintfTo(&edit, "[%s]", "new");
  EXPECT_EQ(edit.Text8(), "operator typed this[new]");
  edit.SetSel(3, 3);  // caret placed in the middle
  LogPrintfTo(&edit, "!");
  EXPECT_EQ(edit.Text8(), "operator typed this[new]!");
}

TEST(LogConsole, LongOutputIsCutAt1023Bytes) {
  for (size_t n : {1022u, 1023u, 1024u, 1025u, 5000u}) {
    SCOPED_TRACE(n);
    MemoryLogEdit edit, direct;
    std::string text(n, 'q');
    for (size_t i = 0; i < n; i += 7) text[i] = static_cast<char>('0' + i % 10);
    LogPrintfTo(&edit, "%s", text.c_str());
    AppendLogText(&direct, text);
    EXPECT_EQ(edit.Text8(), text.substr(0, std::min<size_t>(n, 1023)));
    EXPECT_EQ(direct.Text8(), edit.Text8());
  }
}

TEST(LogConsole, NeverGrowsBeyondThresholdPlusOneCall) {
  MemoryLogEdit edit;
  const std::string chunk(1023, 'k');
  for (int i = 0; i < 60; ++i) {
    LogPrintfTo(&edit, "%s", chunk.c_str());
    ASSERT_LE(edit.GetWindowTextLength(), 16383 + 1023);
  }
  // 8 calls of output were dropped at each of the trims, the rest kept in order.
  EXPECT_GE(edit.GetWindowTextLength(), 8192);
}

TEST(LogConsole, TextIsConvertedAsWindows1252) {
  struct Mapping {
    unsigned char byte;
    char16_t unit;
  };
  const Mapping table[] = {
      {0x41, u'A'},      {0x0D, u'\r'},     {0x0A, u'\n'},     {0x80, u'\u20AC'}, {0x85, u'\u2026'},
      {0x93, u'\u201C'}, {0x94, u'\u201D'}, {0x9F, u'\u0178'}, {0xA0, u'\u00A0'}, {0xE9, u'\u00E9'},
      {0xFF, u'\u00FF'},
      // Undefined in the code page: the C1 control of the same value.
      {0x81, u'\u0081'}, {0x8D, u'\u008D'}, {0x8F, u'\u008F'}, {0x90, u'\u0090'}, {0x9D, u'\u009D'},
  };
  for (const auto& m : table) {
    SCOPED_TRACE(static_cast<int>(m.byte));
    MemoryLogEdit edit;
    const char text[] = {static_cast<char>(m.byte), '\0'};
    LogPrintfTo(&edit, "%s", text);
    EXPECT_TRUE(edit.text() == std::u16string(1, m.unit));
  }
}

TEST(LogConsole, EveryByteReachesTheControlAsOneCharacter) {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  MemoryLogEdit edit;
  LogPrintfTo(&edit, "%s", all.c_str());
  EXPECT_EQ(edit.GetWindowTextLength(), 255);
  EXPECT_EQ(edit.Text8(), all);
}

TEST(LogConsole, ProgressRangeAndPosition) {
  RecordingProgress progress;
  SetProgressRangeOn(&progress, 0);
  SetProgressPosOn(&progress, 1023);
  SetProgressRangeOn(&progress, -5);
  const std::vector<std::string> expected = {"range 0 0", "step 1",  "pos 0", "pos 1023",
                                             "invalidate", "range 0 -5", "step 1", "pos 0"};
  EXPECT_EQ(progress.calls, expected);
}

TEST(LogConsole, PlainCallsAndTheWindowsRunEventsReachTheGlobalControls) {
  MemoryLogEdit edit;
  RecordingProgress progress;
  GlobalControls controls(&edit, &progress);
  edit.text() = Units(std::string(16384, 'o'));
  LogPrintf("Version: %s", "1.2\r\n");
  WindowConsole().LogText("MCU: ");
  SetProgressRange(42);
  SetProgressPos(7);
  WindowConsole().ProgressRange(9);
  WindowConsole().ProgressPos(3);
  EXPECT_EQ(edit.Text8(), std::string(8192, 'o') + "Version: 1.2\r\nMCU: ");
  const std::vector<std::string> expected = {"range 0 42", "step 1", "pos 0", "pos 7", "invalidate",
                                             "range 0 9",  "step 1", "pos 0", "pos 3", "invalidate"};
  EXPECT_EQ(progress.calls, expected);
}

}  // namespace

}  // namespace fennwick
