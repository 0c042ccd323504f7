#pragma once
// The jobs that a command runs on each board: identify, examine, program. Each tells its
// outcome as how it ended and a short text, and its messages through the board.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/records/run_record.h"
#include "cli/run/board.h"
#include "firmware/loaded_firmware.h"
#include "link/exit_codes.h"
#include "link/mcu_port.h"

namespace fennwick {

struct JobResult {
  JobResult(JobEnd e, std::string t) : end(e), text(std::move(t)) {}
  ExitCode code() const { return ExitCodeOf(end); }
  JobEnd end;
  std::string text;  // short, for the table and the log file
  bool programmed = false;  // blocks were sent
  uint32_t blocksAccepted = 0;
  uint32_t timeouts = 0;
  uint32_t blocksRefused = 0;
  std::vector<std::string> warnings;  // of a run that succeeded all the same, one sentence each
};
using BoardJob = std::function<JobResult(Board&)>;

// The flash window as the messages give it: "0x8000 to 0x27FFF".
std::string FlashWindowText();

// The board's job stopped by SIGINT or SIGTERM; `when` tells the person what was sent.
JobResult Interrupted(Board& board, const std::string& when);

// Opens and identifies as the window does at its start.
JobResult Identify(Board& board);

// Identifies (or, offline, takes `mcuVersion` as the MCU's version line) and examines the
// firmware read at the start.
JobResult Examine(Board& board, const LoadedFirmware& firmware, const std::string& file, bool offline,
                  const std::string& mcuVersion);

struct ProgramSettings {
  bool force = false;
  bool dryRun = false;  // stop where the IAP request would go out
  BlockLimits limits;
};
// Identifies, examines, and programs the firmware read at the start, unless the MCU or the
// file must not be programmed without --force.
JobResult Program(Board& board, const LoadedFirmware& firmware, const std::string& file,
                  const ProgramSettings& settings);

// Runs the board's job, unless a stop was requested before its turn.
JobResult RunJob(const BoardJob& job, Board& board);

// The board's share of the record of its job on `port`, which took `secs`; the records add the
// command's.
RunRecord JobRecord(const Board& board, const std::string& port, const JobResult& result, double secs);

}  // namespace fennwick
