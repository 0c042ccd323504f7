#pragma once
// One port's run as a production line keeps it: the same record feeds the JSON document
// (--json), the log file (--log-file) and the system log (--syslog).
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"

namespace fennwick {

// The file name that stands for standard input.
inline constexpr char kStandardInputName[] = "-";

// The file of a run, as a line's manufacturing system keeps it.
struct FileFacts {
  std::string path;  // absolute
  FirmwareFormat format = FirmwareFormat::Unknown;
  uint32_t crc32 = 0;  // of the flash image
  DescriptionBlock description;
};

// What every port of one command shares.
struct RunInfo {
  std::string verb;  // "identify", "examine", "program", "check"
  std::string station;
  const FileFacts* file = nullptr;  // none for identify
  bool dryRun = false;  // program --dry-run: nothing is flashed, whatever the exit code
};

struct RunRecord {
  // The command's: the same for each of its ports. Empty ones read "(none)" in the log file.
  std::string command;     // e.g. "program fw.s19"
  std::string tool;        // "fennwick-cli 0.1.0"
  std::string station;
  std::string file;        // absolute path
  std::string imageCrc32;  // "0x1A2B3C4D": the image every board of the command got

  // The port's.
  std::string startedUtc;  // ISO 8601
  std::string port;        // empty for examine --offline
  std::string unit;
  std::string mcuVersion;      // the version line as the log shows it, 8-bit text
  std::string mcuDescription;  // the description reply, 8-bit text
  // The examination's verdict: "suitable", "unsuitable", "no-description"; empty when it
  // could not be judged (no file, or no version from the MCU).
  std::string verdict;
  int exitCode = 0;
  std::string result;  // the short text of the closing table, e.g. "IAP refused" (the JSON's `detail`)
  bool programmed = false;  // a programming run was made: the block counts mean something
  uint32_t blocksAccepted = 0;
  uint32_t timeouts = 0;
  uint32_t blocksRefused = 0;  // block replies that began with '#'
  // Of a run that succeeded all the same (an IAP request left unanswered), one sentence each.
  std::vector<std::string> warnings;
  double seconds = 0;
  std::string log;  // the log text, byte for byte (8-bit text)
};

// One port's run: the record under the name that older callers use.
using PortRun = RunRecord;

}  // namespace fennwick
