#pragma once
// What a run tells while it goes: the text it logs, how far it has come, and how it ended.
// The port and the jobs report to one observer; the window's log, the command line's
// terminal and its records, and the tests each take the events their own way.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/exit_codes.h"

namespace fennwick {

// The formatting buffer of one log call: its text is at most 1,023 bytes.
constexpr size_t kLogFormatBuffer = 1024;

class IRunObserver {
 public:
  virtual ~IRunObserver() = default;
  // The 8-bit text of one log call, exactly as formatted: it carries its own line ends,
  // and a text without one is continued by the next.
  virtual void LogText(std::string_view text) = 0;
  // The progress now runs from 0 to `high` and stands at 0.
  virtual void ProgressRange(int32_t high) = 0;
  virtual void ProgressPos(int32_t pos) = 0;
  // The run is over: how it ended, and a few words on it for a status line or a table.
  virtual void RunEnded(JobEnd end, std::string_view summary) = 0;
};

}  // namespace fennwick
