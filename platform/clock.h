#pragma once
#include <chrono>
#include <cstdint>

namespace fennwick {

// A 32-bit wrapping millisecond tick and a sleep; injectable so that tests run long
// silences in virtual time.
class IClock {
 public:
  virtual ~IClock() = default;
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

class SystemClock final : public IClock {
 public:
  uint32_t TickCount() override;
  void Sleep(uint32_t ms) override;
};

// The process-wide real clock.
IClock& DefaultClock();

// The milliseconds left until `deadline`, 0 once it has passed: what a system call that waits
// at most so long is given. Deadlines are set from 32-bit millisecond spans.
inline uint32_t MsLeft(std::chrono::steady_clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  return left < 0 ? 0 : static_cast<uint32_t>(left);
}

}  // namespace fennwick
