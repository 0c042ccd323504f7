#pragma once
// What a run tells a production line: one JSON document per command (--json), one record
// per port in the log file, one summary line per port in the system log (--syslog).
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"

namespace fennwick {

// The one version of the project, the one its packages carry.
const char* ToolVersion();

// The file of a run, as a line's manufacturing system keeps it.
struct FileFacts {
  std::string path;  // absolute
  FirmwareFormat format = FirmwareFormat::Unknown;
  uint32_t crc32 = 0;  // of the 128 KiB image
  DescriptionBlock description;
};
FileFacts FactsOf(const std::string& file, const FirmwareReport& report);
// "0x1A2B3C4D"
std::string Crc32Text(uint32_t crc);

// One port's run.
struct PortRun {
  std::string port;
  std::string unit;
  std::string mcuVersion;      // the version line as the log shows it, 8-bit text
  std::string mcuDescription;  // the description reply, 8-bit text
  // The examination's verdict: "suitable", "unsuitable", "no-description"; empty when it
  // could not be judged (no file, or no version from the MCU).
  std::string verdict;
  int exitCode = 1;
  std::string detail;  // the short text of the table, e.g. "IAP refused"
  bool programmed = false;  // a programming run was made: the block counts mean something
  uint32_t blocksAccepted = 0;
  uint32_t timeouts = 0;
  std::string started;  // ISO 8601, UTC
  double seconds = 0;
  std::string log;  // 8-bit text
};

struct RunInfo {
  std::string verb;     // "identify", "examine", "program", "check"
  std::string station;
  const FileFacts* file = nullptr;  // none for identify
};

// The whole document, pretty-printed, with a final line end. Its shape is documented in the
// README; bump kJsonFormatVersion when it changes.
constexpr int kJsonFormatVersion = 1;
std::string JsonDocument(const RunInfo& info, const std::vector<PortRun>& ports, int exitCode);
// `check --json`: the file's facts, its problems and warnings.
std::string CheckJsonDocument(const FileFacts& file, const FirmwareReport& report, int exitCode);

// `ports --json`: each port with its kind, USB details and stable names, and what "COM2:" maps to.
struct SerialPortInfo;
std::string PortsJsonDocument(const std::vector<SerialPortInfo>& ports, const std::string& com2);

// "station=... unit=... port=... file=... crc32=... mcu=\"...\" result=programmed exit=0 seconds=12.3"
std::string SummaryLine(const RunInfo& info, const PortRun& run);
// Sends the summary to syslog (facility user; errors at LOG_ERR, success at LOG_INFO).
void SyslogSummary(const RunInfo& info, const PortRun& run);

}  // namespace fennwick
