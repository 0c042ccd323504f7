#pragma once
// A recorder of a run's events: each log call's text, the progress calls, the ends.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/run_events.h"

namespace fennwick {

class RecordingRun final : public IRunObserver {
 public:
  void LogText(std::string_view text) override {
    texts.emplace_back(text);
    log += text;
  }
  void ProgressRange(int32_t high) override {
    progress.push_back("range " + std::to_string(high));
    rangeHigh = high;
    ++ranges;
  }
  void ProgressPos(int32_t pos) override {
    progress.push_back("pos " + std::to_string(pos));
    positions.push_back(pos);
  }
  void RunEnded(JobEnd end, std::string_view) override { ends.push_back(end); }
  std::string log;                 // every text, in order
  std::vector<std::string> texts;  // one per log call
  std::vector<std::string> progress;
  std::vector<int32_t> positions;
  int32_t rangeHigh = -1;
  int ranges = 0;
  std::vector<JobEnd> ends;
};

}  // namespace fennwick
