// The log control as the log console drives it, and as the operator types into it.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTextBlock>
#include <random>

#include "ui_test_support.h"

namespace fennwick {

namespace {

// What the widget must show for a model text: CR LF, lone CR and lone LF each one break.
QString ExpectedDisplay(const QString& model) {
  QString out;
  for (int i = 0; i < model.size(); ++i) {
    if (model[i] == u'\r') {
      if (i + 1 < model.size() && model[i + 1] == u'\n') ++i;
      out += u'\n';
    } else {
      out += model[i];
    }
  }
  return out;
}

void Type(QWidget& w, Qt::Key key, const QString& text = {}, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QKeyEvent press(QEvent::KeyPress, key, mods, text);
  QCoreApplication::sendEvent(&w, &press);
}

void TypeText(QWidget& w, const QString& text) {
  for (QChar c : text) Type(w, Qt::Key_unknown, QString(c));
}

class WindowLogControl : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = g_logEdit;
    g_logEdit = &log;
  }
  void TearDown() override { g_logEdit = saved_; }
  void Fill(const QString& text) {
    log.SetSel(log.GetWindowTextLength(), log.GetWindowTextLength());
    log.ReplaceSel(U16(text));
  }
  void ExpectShownAsModel() { EXPECT_EQ(log.DisplayedText(), ExpectedDisplay(log.Text())); }

  CLogEdit log;
  ILogEdit* saved_ = nullptr;
};

TEST_F(WindowLogControl, TrimThresholdCountsCarriageReturnAndLineFeedApart) {
  struct Case {
    const char* name;
    QString before;
    QString after;  // the text after LogPrintf("Z")
  };
  const QString pairs4095 = QString("ab\r\n").repeated(4095);
  const QString pairs4096 = QString("ab\r\n").repeated(4096);
  const QString splitAt8192 = QString(8191, u'a') + "\r\n" + QString(16384 - 8193, u'b');
  const Case cases[] = {
      {"16,383 characters: no trim", pairs4095 + "ab\r", pairs4095 + "ab\rZ"},
      {"16,384 characters: characters 0 to 8,191 go", pairs4096, pairs4096.mid(8192) + "Z"},
      {"17,000 characters: still only 8,192 go", QString(17000, u'c'), QString(17000 - 8192, u'c') + "Z"},
      {"cut between a CR and its LF", splitAt8192, splitAt8192.mid(8192) + "Z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log.SetSel(0, -1);
    log.Clear();
    Fill(c.before);
    ASSERT_EQ(log.GetWindowTextLength(), c.before.size());
    LogPrintf("Z");
    EXPECT_EQ(log.Text(), c.after);
    EXPECT_EQ(log.GetWindowTextLength(), c.after.size());
    ExpectShownAsModel();
  }
  // After the last cut the log begins with a lone line feed: an empty first line.
  EXPECT_TRUE(log.DisplayedText().startsWith(u'\n'));
}

TEST_F(WindowLogControl, TextGoesToTheEndWhateverTheOperatorSelected) {
  Fill("hello\r\nworld\r\n");
  QTextCursor c = log.textCursor();
  c.setPosition(1);
  c.setPosition(4, QTextCursor::KeepAnchor);  // "ell", selected by the operator
  log.setTextCursor(c);
  EXPECT_EQ(log.SelectionStart(), 1);
  EXPECT_EQ(log.SelectionEnd(), 4);
  LogPrintf("more");
  LogPrintf(" text\r\n");
  EXPECT_EQ(log.Text(), "hello\r\nworld\r\nmore text\r\n");
  ExpectShownAsModel();
  EXPECT_EQ(log.textCursor().position(), log.DisplayedText().size());  // caret at the end
}

TEST_F(WindowLogControl, TypedTextIsKeptAndCountsTowardTheTrim) {
  Fill(QString(16378, u'x'));
  log.setFocus();
  log.moveCursor(QTextCursor::End);
  TypeText(log, "ok");
  Type(log, Qt::Key_Return);  // a typed line break is CR LF, two characters
  ASSERT_EQ(log.Text().right(4), "ok\r\n");
  ASSERT_EQ(log.GetWindowTextLength(), 16382);
  LogPrintf("A");  // 16,382: no trim yet
  TypeText(log, "!");
  ASSERT_EQ(log.GetWindowTextLength(), 16384);
  LogPrintf("B");
  EXPECT_EQ(log.GetWindowTextLength(), 8193);
  EXPECT_TRUE(log.Text().endsWith("ok\r\nA!B"));
  ExpectShownAsModel();
}

TEST_F(WindowLogControl, OperatorEditsKeepLineBreaksWhole) {
  Fill("ab\r\ncd");
  log.setFocus();
  QTextCursor c = log.textCursor();
  c.setPosition(3);  // display "ab\ncd": before "c"
  log.setTextCursor(c);
  Type(log, Qt::Key_Backspace);  // removes the whole CR LF
  EXPECT_EQ(log.Text(), "abcd");
  TypeText(log, "-");
  EXPECT_EQ(log.Text(), "ab-cd");
  c = log.textCursor();
  c.setPosition(0);
  log.setTextCursor(c);
  Type(log, Qt::Key_Delete);
  EXPECT_EQ(log.Text(), "b-cd");
  c.setPosition(1);
  c.setPosition(3, QTextCursor::KeepAnchor);
  log.setTextCursor(c);
  TypeText(log, "Q");  // replaces the selection
  EXPECT_EQ(log.Text(), "bQd");
  Type(log, Qt::Key_A, QStringLiteral("\x01"), Qt::ControlModifier);  // select all, no text
  EXPECT_EQ(log.Text(), "bQd");
  ExpectShownAsModel();
}

// Whether a CR and an LF make one break depends on their neighbours; the widget must
// follow every such change, not only the inserted text.
TEST_F(WindowLogControl, NeighbouringLineBreakCharactersAreRenderedTogether) {
  struct Step {
    int start, end;
    const char* text;  // nullptr: Clear()
    const char* model;
  };
  const Step steps[] = {
      {0, 0, "a\r", "a\r"},             // lone CR: a break
      {2, 2, "\nb", "a\r\nb"},          // its LF arrives: still one break
      {2, 2, "x", "a\rx\nb"},           // split: two breaks
      {2, 3, nullptr, "a\r\nb"},        // joined again
      {1, 2, nullptr, "a\nb"},          // CR gone: the lone LF breaks
      {1, 1, "\r", "a\r\nb"},           // CR put back before the LF
      {3, 3, "\n\r\r\n", "a\r\n\n\r\r\nb"},
      {0, -1, nullptr, ""},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.model);
    log.SetSel(s.start, s.end);
    if (s.text != nullptr) {
      log.ReplaceSel(U16(QString::fromLatin1(s.text)));
    } else {
      log.Clear();
    }
    EXPECT_EQ(log.Text(), QString::fromLatin1(s.model));
    ExpectShownAsModel();
  }
}

TEST_F(WindowLogControl, RandomEditsKeepWidgetAndModelTogether) {
  std::mt19937 rng(1234);
  const char16_t alphabet[] = u"ab\r\n\r\n";
  for (int i = 0; i < 600; ++i) {
    const int n = log.GetWindowTextLength();
    const int a = static_cast<int>(rng() % (n + 1));
    const int b = static_cast<int>(rng() % (n + 1));
    log.SetSel(a, b);
    if (rng() % 4 == 0) {
      log.Clear();
    } else {
      std::u16string t;
      for (int k = static_cast<int>(rng() % 5); k > 0; --k) t += alphabet[rng() % 6];
      log.ReplaceSel(t);
    }
    ASSERT_EQ(log.DisplayedText(), ExpectedDisplay(log.Text())) << "step " << i;
  }
}

TEST_F(WindowLogControl, SelectionPositionsAreClampedAndOrdered) {
  Fill("0123456789");
  log.SetSel(8, 3);  // reversed: the lower value starts the selection
  EXPECT_EQ(log.SelectionStart(), 3);
  EXPECT_EQ(log.SelectionEnd(), 8);
  log.SetSel(5, 500);
  EXPECT_EQ(log.SelectionEnd(), 10);
  log.SetSel(-1, 0);  // deselect: caret stays
  EXPECT_EQ(log.SelectionStart(), log.SelectionEnd());
  log.SetSel(0, -1);  // all
  log.Clear();
  EXPECT_EQ(log.GetWindowTextLength(), 0);
}

TEST_F(WindowLogControl, EightBitTextArrivesAsWindows1252) {
  LogPrintf("%s", "caf\xE9 \x80 \x93ok\x94\r\n");
  EXPECT_EQ(log.Text(), QString::fromUtf8("café € “ok”\r\n"));
}

TEST_F(WindowLogControl, WorkerOutputArrivesInOrderEachCallCompleteBeforeTheNext) {
  constexpr int kLines = 400;
  std::atomic<bool> done{false};
  std::atomic<int> misordered{0};
  std::thread worker([&] {
    for (int i = 0; i < kLines; ++i) {
      const int before = log.GetWindowTextLength();
      LogPrintf("line %03d\r\n", i);
      // The call has been applied when it returns (until the first trim).
      if (before + 10 <= kLogTrimThreshold && log.GetWindowTextLength() != before + 10) ++misordered;
    }
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 30000));
  worker.join();
  EXPECT_EQ(misordered, 0);
  QString expected;
  for (int i = 0; i < kLines; ++i) expected += QString("line %1\r\n").arg(i, 3, 10, QChar('0'));
  EXPECT_EQ(log.Text(), expected);
  ExpectShownAsModel();
}

}  // namespace

}  // namespace fennwick
