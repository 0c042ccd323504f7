#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace fennwick {

uint32_t SystemClock::TickCount() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint32_t>(ms.count());
}

void SystemClock::Sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

IClock& DefaultClock() {
  static SystemClock clock;
  return clock;
}

}  // namespace fennwick
