#pragma once
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

}  // namespace fennwick
