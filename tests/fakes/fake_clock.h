#pragma once
#include <cstdint>

#include "platform/clock.h"

namespace fennwick {

// Virtual time: sleeping and waiting advance it at once.
class FakeClock final : public IClock {
 public:
  explicit FakeClock(uint32_t startTick = 1000) : start_(startTick) {}
  uint32_t TickCount() override { return static_cast<uint32_t>(start_ + now_); }
  void Sleep(uint32_t ms) override {
    now_ += ms;
    sleptMs_ += ms;
    ++sleeps_;
  }
  uint64_t Now() const { return now_; }  // virtual ms since construction
  void Advance(uint64_t ms) { now_ += ms; }
  uint64_t sleptMs() const { return sleptMs_; }
  uint64_t sleeps() const { return sleeps_; }

 private:
  uint32_t start_;
  uint64_t now_ = 0;
  uint64_t sleptMs_ = 0;
  uint64_t sleeps_ = 0;
};

}  // namespace fennwick
