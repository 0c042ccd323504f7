// Serial line time for one direction of an 8N1 line: every byte takes 10 bit times, and
// a byte cannot start before the previous one has finished.
#pragma once

#include <algorithm>
#include <chrono>

#include "sim/mcu_model.hpp"

namespace fennwick::sim {

class LineTimer {
 public:
  // baud 0: no line time at all.
  explicit LineTimer(unsigned baud)
      : byte_time_(baud == 0 ? std::chrono::nanoseconds(0)
                             : std::chrono::nanoseconds(10'000'000'000LL / baud)) {}

  // The time the next byte has fully crossed the line, if it cannot start before
  // `earliest`. Times are kept absolute, so scheduling late never adds up to drift.
  TimePoint next(TimePoint earliest) {
    free_at_ = std::max(free_at_, earliest) + byte_time_;
    return free_at_;
  }

  std::chrono::nanoseconds byteTime() const { return byte_time_; }

 private:
  std::chrono::nanoseconds byte_time_;
  TimePoint free_at_{};
};

}  // namespace fennwick::sim
