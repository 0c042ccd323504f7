#pragma once
// The log console on a terminal: log text to stdout byte for byte as it arrives, the
// progress as a bar on stderr when stderr is a terminal.
#include <chrono>
#include <cstdio>
#include <string>

#include "cli/console_parts.h"
#include "platform/console.h"

namespace fennwick {

class TerminalConsole final : public StreamLogEdit, public IProgressCtrl {
 public:
  // `bytesPerStep` turns progress steps into a byte rate for the bar (a block packet's size).
  // `showBar`: draw the bar on `err`; `sameScreen`: `out` is that terminal too, so unfinished
  // log lines are held beside the bar.
  TerminalConsole(std::FILE* out, std::FILE* err, bool showBar, bool sameScreen, uint32_t bytesPerStep);
  ~TerminalConsole() override;
  TerminalConsole(const TerminalConsole&) = delete;
  TerminalConsole& operator=(const TerminalConsole&) = delete;


  // IProgressCtrl
  void SetRange32(int32_t low, int32_t high) override;
  void SetStep(int32_t) override {}
  void SetPos(int32_t pos) override;
  void Invalidate() override {}

  // Ends the bar's line and writes out any log text held back for it.
  void Finish();

 protected:
  void Append(const std::u16string& text) override;

 private:
  void DrawBar();
  void ClearBar();
  std::FILE* out_;
  std::FILE* err_;
  bool bar_;
  bool sameScreen_;
  uint32_t bytesPerStep_;
  int32_t high_ = 100;
  int32_t pos_ = -1;
  bool barShown_ = false;
  bool rangeJustSet_ = false;
  std::string partial_;  // log text after the last line end, shown beside the bar
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace fennwick
