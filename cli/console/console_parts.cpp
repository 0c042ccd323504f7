#include "cli/console/console_parts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace fennwick {

namespace {

// The pace counts the last few seconds only, so that it follows a line that slows down.
constexpr auto kRateWindow = std::chrono::seconds(5);
constexpr auto kRateMinSpan = std::chrono::seconds(1);
constexpr size_t kMinBar = 10;

std::string Clock(double seconds) {
  const long s = static_cast<long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
  return text;
}

}  // namespace

void StepRate::Add(int32_t pos, Clock::time_point at) {
  if (!samples_.empty() && pos < samples_.back().second) samples_.clear();  // a new job
  samples_.emplace_back(at, pos);
  while (samples_.size() > 2 && at - samples_[1].first >= kRateWindow) samples_.pop_front();
}

std::optional<double> StepRate::PerSecond() const {
  if (samples_.size() < 2) return std::nullopt;
  const double span = std::chrono::duration<double>(samples_.back().first - samples_.front().first).count();
  if (span < std::chrono::duration<double>(kRateMinSpan).count()) return std::nullopt;
  return (samples_.back().second - samples_.front().second) / span;
}

std::string ProgressText(int32_t pos, int32_t high, std::optional<double> stepsPerSecond, size_t columns,
                         size_t maxBar, uint32_t bytesPerStep) {
  const int32_t total = std::max(high, 0) + 1;
  const int32_t done = std::clamp(pos + 1, 0, total);
  std::string count = " ";
  count.append(std::to_string(done)).append("/").append(std::to_string(total));
  std::string rate;
  if (bytesPerStep > 0) {
    char text[48] = "  -- kB/s";
    if (stepsPerSecond) std::snprintf(text, sizeof text, "  %.1f kB/s", *stepsPerSecond * bytesPerStep / 1000.0);
    rate = text;
  }
  std::string left = "  -:-- left";
  if (done == total) {
    left = "  0:00 left";
  } else if (stepsPerSecond && *stepsPerSecond > 0) {
    left = std::string("  ").append(Clock((total - done) / *stepsPerSecond)).append(" left");
  }
  const std::vector<std::string> stats = {count + rate + left, count + left, count};
  for (const std::string& s : stats) {
    if (columns < s.size() + 2 + kMinBar) continue;
    const size_t bar = std::min(maxBar, columns - s.size() - 2);
    const auto filled = static_cast<size_t>(static_cast<int64_t>(bar) * done / total);
    std::string text = "[";
    return text.append(filled, '#').append(bar - filled, '.').append("]").append(s);
  }
  for (const std::string& s : stats) {
    if (s.size() - 1 <= columns) return s.substr(1);
  }
  return {};
}

bool TerminalTakesControls(const char* term) {
  return term != nullptr && term[0] != '\0' && std::strcmp(term, "dumb") != 0;
}

}  // namespace fennwick
