#pragma once
// What a run tells a production line besides the log file: one JSON document per command
// (--json) and one summary line per port in the system log (--syslog).
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/records/run_record.h"
#include "cli/records/serial_port_info.h"
#include "firmware/firmware_file.h"

namespace fennwick {

// The one version of the project, the one its packages carry.
const char* ToolVersion();

// The facts of `file` as its strict reading found them, its path made absolute.
FileFacts FactsOf(const std::string& file, const FirmwareReport& report);
// "0x1A2B3C4D"
std::string Crc32Text(uint32_t crc);

// The whole document, pretty-printed, with a final line end. Its shape is documented in the
// README; bump kJsonFormatVersion when it changes.
constexpr int kJsonFormatVersion = 1;
std::string JsonDocument(const RunInfo& info, const std::vector<RunRecord>& ports, int exitCode);
// `check --json`: the file's facts, its problems and warnings.
std::string CheckJsonDocument(const FileFacts& file, const FirmwareReport& report, int exitCode);

// `ports --json`: each port with its kind, USB details and stable names, and what "COM2:" maps to.
std::string PortsJsonDocument(const std::vector<SerialPortInfo>& ports, const std::string& com2);

// Writes a JSON document whole to `out`, or says on `err` why it could not and turns a
// success (`code` 0) into kExitLogFile; returns the exit code.
int WriteJsonDocument(std::FILE* out, std::FILE* err, const std::string& document, int code);

// 'program station="line-3" unit="SN-0" port="/dev/ttyUSB0" file="/srv/fw.s19" crc32=0x1A2B3C4D
// mcu="FNW-107 ..." result=ok exit=0 seconds=12.3': text values quoted as the records quote
// them ("-" for none), the others words of our own.
// A dry run that would have started reads result=dry-run: no collector may count it as a
// programmed board.
std::string SummaryLine(const RunInfo& info, const RunRecord& run);
// The result word of the system log's line and fields: the exit code's, or "dry-run".
std::string SummaryResultWord(const RunInfo& info, const RunRecord& run);

}  // namespace fennwick
