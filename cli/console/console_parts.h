#pragma once
// Pieces that the terminal's single-board and several-board displays share.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "cli/console/terminal_size.h"

namespace fennwick {

// A job's pace over its last few seconds. A figure over the first milliseconds says
// nothing (one step in a millisecond is not the line's speed), so there is none until the
// steps span a second.
class StepRate {
 public:
  using Clock = std::chrono::steady_clock;
  void Add(int32_t pos, Clock::time_point at);
  void Reset() { samples_.clear(); }
  std::optional<double> PerSecond() const;

 private:
  std::deque<std::pair<Clock::time_point, int32_t>> samples_;
};

// "[#####.....] done/total  rate  m:ss left" for step `pos` of 0..high, in at most `columns`
// columns: the byte rate only when `bytesPerStep` is given, "--" for what is not known yet,
// the bar at most `maxBar` wide. What does not fit goes: the rate, the time left, the bar.
std::string ProgressText(int32_t pos, int32_t high, std::optional<double> stepsPerSecond, size_t columns,
                         size_t maxBar, uint32_t bytesPerStep);

// Control sequences for `term` (the TERM variable, possibly unset): none for a dumb terminal.
bool TerminalTakesControls(const char* term);

}  // namespace fennwick
