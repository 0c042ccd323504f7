#include <string>

#include "link/mcu_port.h"

namespace fennwick {

namespace {
std::string Plural(uint32_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }
}  // namespace

std::string ProgramVerdict(const ProgramOutcome& outcome) {
  using Status = ProgramOutcome::Status;
  switch (outcome.status) {
    case Status::NullPath:
      return "Nothing was flashed: no file was chosen.";
    case Status::FileNotOpened:
      return "Nothing was flashed: the file cannot be opened.";
    case Status::PortNotOpen:
      return "Nothing was flashed: the IAP request could not be sent.";
    case Status::FileUnreadable:
      return "Nothing was flashed: the file could not be read to its end.";
    case Status::OutOfMemory:
      return "Nothing was flashed: out of memory.";
    case Status::Refused:
      return "Nothing was flashed: the MCU refused IAP mode.";
    case Status::Interrupted:
      if (outcome.blocksSent == 0) return "Nothing was flashed: interrupted before the first block.";
      return "Stopped: interrupted after block " + std::to_string(outcome.blocksSent) + " of " +
             std::to_string(kBlockCount) + "; the flash is incomplete.";
    case Status::LineLost:
      if (outcome.blocksSent == 0) return "Nothing was flashed: the port was lost before the first block.";
      return "Stopped: the port was lost during the run; the flash is incomplete.";
    case Status::Stalled:
      return "Stopped: " + std::to_string(outcome.stalledAt - outcome.stalledFrom + 1) +
             " block replies in a row timed out (blocks " + std::to_string(outcome.stalledFrom) + " to " +
             std::to_string(outcome.stalledAt) + "); the flash is incomplete.";
    case Status::Programmed:
      return "Done: programmed " + std::to_string(kBlockCount) + " blocks, every one accepted.";
    case Status::Flawed:
      break;
  }
  std::string problems;
  auto add = [&](const std::string& text) { problems += (problems.empty() ? "" : ", ") + text; };
  if (!outcome.iapReplied) add("the IAP request got no complete reply");
  if (outcome.blockTimeouts > 0) add(std::to_string(outcome.blockTimeouts) + " of " + std::to_string(kBlockCount) + " block replies timed out");
  if (outcome.shortWrites > 0) add(Plural(outcome.shortWrites, "write was", "writes were") + " not taken whole");
  return "Finished with errors: " + problems + ".";
}

}  // namespace fennwick
