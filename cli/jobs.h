#pragma once
// The jobs that a command runs on each board: identify, examine, program. Each tells its
// outcome as an exit code and a short text, and its messages through the board.
#include <cstdint>
#include <functional>
#include <string>

#include "cli/board.h"
#include "firmware/firmware_file.h"
#include "link/mcu_port.h"

namespace fennwick {

struct JobResult {
  JobResult() = default;
  JobResult(int c, std::string t) : code(c), text(std::move(t)) {}
  int code = kExitFailure;
  std::string text;  // short, for the table and the log file
  bool programmed = false;  // blocks were sent
  uint32_t blocksAccepted = 0;
  uint32_t timeouts = 0;
};
using BoardJob = std::function<JobResult(Board&)>;

// The name under which a board's port asks its file system for the firmware: that file
// system serves the bytes read at the start, whatever the name.
constexpr char16_t kFirmwareName[] = u"firmware";

// The board's job stopped by SIGINT or SIGTERM; `when` tells the person what was sent.
JobResult Interrupted(Board& board, const std::string& when);

// Opens and identifies as the window does at its start.
JobResult Identify(Board& board);

// Runs the examination on the board's port: ExamineFile for S19, the report of an image
// read strictly for Intel HEX and raw binaries.
using Examination = std::function<void(CMcuPort&)>;
// Intel HEX and raw binaries are examined from the image of their strict reading; S19 (and
// a file of no known format) the examination's own way, over the bytes read.
bool ExaminedFromImage(const FirmwareImage& firmware);
// The examination of the firmware read at the start on a board's port.
Examination MakeExamination(const FirmwareImage& firmware);

// Identifies (or, offline, takes `mcuVersion` as the MCU's version line) and examines.
JobResult Examine(Board& board, const Examination& examination, const std::string& file, bool offline,
                  const std::string& mcuVersion);

struct ProgramSettings {
  bool force = false;
  bool dryRun = false;  // stop where the IAP request would go out
  BlockLimits limits;
};
// Identifies, examines, and programs the image that `loader` gives, unless the MCU or the
// file must not be programmed without --force.
JobResult Program(Board& board, const std::string& file, const ImageLoader& loader, uint32_t crc32,
                  const Examination& examination, const ProgramSettings& settings);

// The verdict of the examination that examine and program run on the board's port; none
// when there was no MCU version to judge against.
std::string VerdictWord(const Board& board);

}  // namespace fennwick
