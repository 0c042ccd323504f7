#include <cstdio>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"
#include "link/mcu_port.h"

namespace fennwick {

namespace {
std::string BlockAddressText(uint32_t block) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%05X", static_cast<unsigned>(kFlashBase + kBlockSize * block));
  return text;
}
}  // namespace

std::string ProgramVerdict(const ProgramOutcome& outcome) {
  using Status = ProgramOutcome::Status;
  switch (outcome.status) {
    case Status::NotRun:
      return "Nothing was flashed: the run did not start.";
    case Status::NoData:
      return "Nothing was flashed: the file holds no data for the flash.";
    case Status::PortNotOpen:
      return "Nothing was flashed: the IAP request could not be sent.";
    case Status::FileUnreadable:
      return "Nothing was flashed: the file could not be read to its end.";
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
  if (outcome.blocksRefused > 0) {
    add("the MCU refused " + std::to_string(outcome.blocksRefused) + " of " + std::to_string(kBlockCount) +
        " blocks (the first: block " + std::to_string(outcome.firstRefused) + " at " +
        BlockAddressText(outcome.firstRefused) + ")");
  }
  if (!outcome.iapReplied) add("the IAP request got no complete reply");
  if (outcome.blockTimeouts > 0) add(std::to_string(outcome.blockTimeouts) + " of " + std::to_string(kBlockCount) + " block replies timed out");
  if (outcome.shortWrites > 0) add(CountOf(outcome.shortWrites, "write was", "writes were") + " not taken whole");
  return "Finished with errors: " + problems + ".";
}

std::vector<std::string> ProgramWarnings(const ProgramOutcome& outcome) {
  std::vector<std::string> warnings;
  if (outcome.status == ProgramOutcome::Status::Programmed && !outcome.iapReplied) {
    warnings.push_back("the IAP request got no complete reply; the MCU accepted every block all the same.");
  }
  return warnings;
}

}  // namespace fennwick
