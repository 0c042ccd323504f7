#pragma once
// The log console on a terminal: log text to stdout as it arrives (as Unix text, or the
// device's bytes with --raw), the progress as a bar on stderr when stderr is a terminal
// that takes control sequences.
#include <chrono>
#include <cstdio>
#include <string>

#include "cli/console/console_parts.h"
#include "cli/console/output_text.h"
#include "link/run_events.h"

namespace fennwick {

class TerminalConsole final : public IRunObserver {
 public:
  // `bytesPerStep` turns progress steps into a byte rate for the bar (a block packet's size).
  // `showBar`: draw the bar on `err`; `sameScreen`: `out` is that terminal too, so unfinished
  // log lines are held beside the bar. `messagesBetween`: what is written to `err` shows among
  // the log text (`out` is a terminal, or the same file as `err`), so the log's line is ended
  // before each message. `quiet`: the log text goes nowhere.
  struct Options {
    bool showBar = false;
    bool sameScreen = false;
    bool messagesBetween = false;
    bool quiet = false;
    OutputStyle style;
    uint32_t bytesPerStep = 0;
  };
  TerminalConsole(std::FILE* out, std::FILE* err, const Options& options);
  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;

  void LogText(std::string_view text) override;
  void ProgressRange(int32_t high) override;
  void ProgressPos(int32_t pos) override;
  // Ends the log's output, as End does.
  void RunEnded(JobEnd, std::string_view) override { End(); }

  // Before a message on stderr: ends the bar's line and writes out any log text held back
  // for it; on a terminal the log's line is ended too.
  void Finish();
  // After the last log text: as Finish, and Unix text ends with its line end.
  void End();

 private:
  void Write(const std::string& text);
  void DrawBar();
  void ClearBar();
  size_t Columns();
  std::FILE* out_;
  std::FILE* err_;
  Options options_;
  OutputText text_;
  int32_t high_ = 100;
  int32_t pos_ = -1;
  bool barShown_ = false;
  bool lineOpen_ = false;  // log text on `out` since its last line end
  std::string partial_;  // log text after the last line end, shown beside the bar
  StepRate rate_;
  std::chrono::steady_clock::time_point lastDraw_;
  size_t columns_ = 0;
  unsigned resizes_ = 0;
};

}  // namespace fennwick
