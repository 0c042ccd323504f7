// Standard output as text: line ends, the character set, control bytes, and the progress
// line that must never wrap.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/console/output_text.h"
#include "cli/console/terminal_console.h"
#include "fakes/stream_capture.h"

namespace fennwick {

namespace {

TEST(OutputText, DeviceLogBecomesUnixTextInTheLocaleWithControlsEscaped) {
  struct Case {
    const char* name;
    OutputStyle style;
    std::vector<std::string> pieces;  // as the log hands them over
    std::string expected;             // including what End() adds
  };
  const OutputStyle utf8{false, true}, ascii{false, false}, raw{true, true};
  const std::vector<Case> cases = {
      {"CR LF", utf8, {"one\r\ntwo\r\n"}, "one\ntwo\n"},
      {"CR LF split", utf8, {"one\r", "\ntwo\r", "\n"}, "one\ntwo\n"},
      {"lone CR", utf8, {"50%\r100%"}, "50%\n100%\n"},
      {"CR at the end", utf8, {"done\r"}, "done\n"},
      {"no line end", utf8, {"MCU: ", "...."}, "MCU: ....\n"},
      {"nothing", utf8, {}, ""},
      {"tab kept", utf8, {"a\tb\n"}, "a\tb\n"},
      {"code page", utf8, {"AB\xE9" "CD \x80\n"}, "AB\xC3\xA9" "CD \xE2\x82\xAC\n"},
      {"escape sequence", utf8, {"\x1B[2J\x1B]0;x\x07ok\n"}, "\\x1B[2J\\x1B]0;x\\x07ok\n"},
      {"NUL and DEL", utf8, {std::string("a\0b\x7F", 4)}, "a\\x00b\\x7F\n"},
      {"C1 controls", utf8, {"\x9D\x81\x8D\x8F\x90\n"}, "\\x9D\\x81\\x8D\\x8F\\x90\n"},
      {"not UTF-8", ascii, {"AB\xE9\x80\r\n"}, "AB\\xE9\\x80\n"},
      {"raw", raw, {"AB\xE9\x1B[2J\r\n", "MCU: "}, "AB\xE9\x1B[2J\r\nMCU: "},
  };
  for (const Case& c : cases) {
    OutputText text(c.style);
    std::string out;
    for (const std::string& piece : c.pieces) out += text.Put(piece);
    out += text.End();
    EXPECT_EQ(out, c.expected) << c.name;
  }
}

// A whole run's redraws: every one fits in one row (no wrap leaves copies behind), the log
// beside the bar is escaped, and the log text reaches stdout as text, ending its line.
TEST(TerminalConsole, EveryRedrawFitsOneRowAndTheLogEndsItsLine) {
  std::string out;
  const std::string err = Capture([&](std::FILE* e) {
    out = Capture([&](std::FILE* o) {
      TerminalConsole::Options options;
      options.showBar = options.sameScreen = options.messagesBetween = true;
      options.bytesPerStep = 134;
      TerminalConsole console(o, e, options);
      console.LogText("Programming...\r\nMCU: \x1B[2J");
      console.ProgressRange(1023);
      for (int32_t i = 0; i < 1024; ++i) {
        if (i % 12 == 0) console.LogText(".");
        console.ProgressPos(i);
      }
      console.End();
    });
  });
  // Not a terminal here: the width the terminal would not tell.
  size_t draws = 0;
  size_t from = 0;
  while ((from = err.find("\r\033[K", from)) != std::string::npos) {
    from += 4;
    const size_t to = std::min(err.find('\r', from), err.find('\n', from));
    const std::string row = err.substr(from, to == std::string::npos ? std::string::npos : to - from);
    EXPECT_LE(TextColumns(row), 79u) << row;
    EXPECT_EQ(row.find('\033'), std::string::npos) << row;
    ++draws;
  }
  EXPECT_GT(draws, 0u);
  EXPECT_EQ(out.rfind("Programming...\nMCU: \\x1B[2J.", 0), 0u) << out;
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(out.find('\r'), std::string::npos);
}

}  // namespace

}  // namespace fennwick
