#pragma once
// Serial line time for one direction of an 8N1 line: every byte takes 10 bit times, and
// a byte cannot start before the previous one has finished.
#include <algorithm>
#include <chrono>

#include "sim/mcu_model.h"

namespace fennwick::sim {

class LineTimer {
 public:
  // baud 0: no line time at all.
  explicit LineTimer(unsigned baud)
      : byteTime_(baud == 0 ? std::chrono::nanoseconds(0)
                             : std::chrono::nanoseconds(10'000'000'000LL / baud)) {}

  // The time the next byte has fully crossed the line, if it cannot start before
  // `earliest`. Times are kept absolute, so scheduling late never adds up to drift.
  TimePoint Next(TimePoint earliest) {
    freeAt_ = std::max(freeAt_, earliest) + byteTime_;
    return freeAt_;
  }

  std::chrono::nanoseconds ByteTime() const { return byteTime_; }

 private:
  std::chrono::nanoseconds byteTime_;
  TimePoint freeAt_{};
};

}  // namespace fennwick::sim
