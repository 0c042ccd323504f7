#include "cli/console_parts.h"

#include <cstdio>

namespace fennwick {

std::string ProgressText(int32_t pos, int32_t high, std::chrono::steady_clock::time_point started, int width,
                         uint32_t bytesPerStep) {
  const int32_t total = high + 1;
  const int32_t done = std::min(pos + 1, total);
  const int filled = static_cast<int>(static_cast<int64_t>(width) * done / total);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double left = done > 0 ? secs * (total - done) / done : 0;
  char rate[48] = " ";
  if (bytesPerStep > 0) {
    const double bytesPerSec = secs > 0 ? done * static_cast<double>(bytesPerStep) / secs : 0;
    std::snprintf(rate, sizeof rate, "  %.1f kB/s  ", bytesPerSec / 1000.0);
  }
  char text[160];
  std::snprintf(text, sizeof text, "[%s%s] %d/%d%s%d:%02d left", std::string(static_cast<size_t>(filled), '#').c_str(),
                std::string(static_cast<size_t>(width - filled), '.').c_str(), done, total, rate,
                static_cast<int>(left) / 60, static_cast<int>(left) % 60);
  return text;
}

}  // namespace fennwick
