#include "cli/records/run_report.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli/records/record_text.h"
#include "cli/records/serial_port_info.h"
#include "link/exit_codes.h"
#include "platform/text.h"

namespace fennwick {

using nlohmann::ordered_json;

namespace {

// Log text and the MCU's replies are 8-bit text in the device's code page; JSON wants UTF-8.
std::string Utf8(const std::string& cp1252) {
  std::string out;
  return Utf16ToUtf8(Cp1252ToUtf16(cp1252), out) ? out : std::string();
}

ordered_json FileJson(const FileFacts& f) {
  ordered_json description = nullptr;
  if (f.description.present) {
    description = {{"text", Utf8(f.description.first)},
                   {"second_text", Utf8(f.description.second)},
                   {"compatibility", Utf8(std::string(f.description.compat.begin(), f.description.compat.end()))}};
  }
  return {{"path", f.path},
          {"format", FirmwareFormatName(f.format)},
          {"crc32", Crc32Text(f.crc32)},
          {"description", description}};
}

ordered_json Text(const std::string& s) { return s.empty() ? ordered_json(nullptr) : ordered_json(Utf8(s)); }
// Command-line and configuration text is UTF-8 already.
ordered_json Given(const std::string& s) { return s.empty() ? ordered_json(nullptr) : ordered_json(s); }

// A count of milliseconds as the system tells it ("16"), or null when it tells none.
ordered_json Milliseconds(const std::string& text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return text.empty() || error != std::errc() || end != text.data() + text.size() ? ordered_json(nullptr)
                                                                                   : ordered_json(value);
}

std::string Dump(const ordered_json& doc) {
  // Paths need not be UTF-8; a byte that is not becomes U+FFFD rather than an exception.
  return doc.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

// A text value of the summary: quoted, or "-" when there is none.
std::string OrDash(const std::string& s) { return s.empty() ? "-" : RecordQuoted(s); }

}  // namespace

const char* ToolVersion() { return FENNWICK_VERSION; }

std::string Crc32Text(uint32_t crc) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", crc);
  return buf;
}

FileFacts FactsOf(const std::string& file, const FirmwareReport& report) {
  FileFacts f;
  std::error_code ec;
  const std::filesystem::path abs = std::filesystem::absolute(file, ec);
  // "-" is standard input, not a file of that name.
  f.path = ec || file == kStandardInputName ? file : abs.lexically_normal().string();
  f.format = report.format;
  f.crc32 = report.crc32;
  f.description = report.description;
  return f;
}

std::string JsonDocument(const RunInfo& info, const std::vector<RunRecord>& ports, int exitCode) {
  ordered_json doc;
  doc["format_version"] = kJsonFormatVersion;
  doc["tool"] = {{"name", "fennwick-cli"}, {"version", ToolVersion()}};
  doc["command"] = info.verb;
  doc["station"] = Given(info.station);
  doc["file"] = info.file ? FileJson(*info.file) : ordered_json(nullptr);
  doc["result"] = ResultWord(exitCode);
  doc["exit_code"] = exitCode;
  ordered_json list = ordered_json::array();
  for (const RunRecord& p : ports) {
    ordered_json j;
    j["port"] = Given(p.port);  // none for examine --offline
    j["unit"] = Given(p.unit);
    j["mcu_version"] = Text(p.mcuVersion);
    j["mcu_description"] = Text(p.mcuDescription);
    j["verdict"] = Text(p.verdict);
    j["result"] = ResultWord(p.exitCode);
    j["exit_code"] = p.exitCode;
    j["detail"] = p.result;
    j["blocks_accepted"] = p.programmed ? ordered_json(p.blocksAccepted) : ordered_json(nullptr);
    j["timeouts"] = p.programmed ? ordered_json(p.timeouts) : ordered_json(nullptr);
    j["blocks_refused"] = p.programmed ? ordered_json(p.blocksRefused) : ordered_json(nullptr);
    j["warnings"] = p.warnings;
    j["started"] = p.startedUtc;
    j["seconds"] = static_cast<double>(static_cast<int64_t>(p.seconds * 1000 + 0.5)) / 1000;
    j["log"] = Utf8(p.log);
    list.push_back(std::move(j));
  }
  doc["ports"] = std::move(list);
  return Dump(doc);
}

std::string CheckJsonDocument(const FileFacts& file, const FirmwareReport& report, int exitCode) {
  auto problems = [](const std::vector<FileProblem>& list) {
    ordered_json a = ordered_json::array();
    for (const FileProblem& p : list) a.push_back({{"line", p.line}, {"text", p.text}});
    return a;
  };
  ordered_json ranges = ordered_json::array();
  for (const DataRange& r : report.ranges) ranges.push_back({{"first", r.first}, {"last", r.last}});
  ordered_json doc;
  doc["format_version"] = kJsonFormatVersion;
  doc["tool"] = {{"name", "fennwick-cli"}, {"version", ToolVersion()}};
  doc["command"] = "check";
  doc["file"] = FileJson(file);
  doc["data"] = std::move(ranges);
  doc["problems"] = problems(report.problems);
  doc["unlisted_problems"] = report.unlistedProblems;
  doc["warnings"] = problems(report.warnings);
  doc["result"] = ResultWord(exitCode);
  doc["exit_code"] = exitCode;
  return Dump(doc);
}

std::string PortsJsonDocument(const std::vector<SerialPortInfo>& ports, const std::string& com2) {
  ordered_json list = ordered_json::array();
  for (const SerialPortInfo& p : ports) {
    list.push_back({{"device", p.device},
                    {"kind", p.kind},
                    {"usb_vendor", Text(p.usbVendor)},
                    {"usb_product", Text(p.usbProduct)},
                    {"usb_serial", Text(p.usbSerial)},
                    {"manufacturer", Text(p.manufacturer)},
                    {"product", Text(p.product)},
                    {"by_id", p.byId},
                    {"by_path", p.byPath},
                    {"driver", Given(p.driver)},
                    {"latency_timer_ms", Milliseconds(p.latencyTimerMs)}});
  }
  ordered_json doc;
  doc["format_version"] = kJsonFormatVersion;
  doc["tool"] = {{"name", "fennwick-cli"}, {"version", ToolVersion()}};
  doc["command"] = "ports";
  doc["ports"] = std::move(list);
  doc["com2"] = com2;
  return Dump(doc);
}

std::string SummaryResultWord(const RunInfo& info, const RunRecord& run) {
  return info.dryRun && run.exitCode == kExitOk ? "dry-run" : ResultWord(run.exitCode);
}

std::string SummaryLine(const RunInfo& info, const RunRecord& run) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", run.seconds);
  std::string line = info.verb + " station=" + OrDash(info.station) + " unit=" + OrDash(run.unit) +
                     " port=" + OrDash(run.port);
  if (info.file) line += " file=" + RecordQuoted(info.file->path) + " crc32=" + Crc32Text(info.file->crc32);
  line += " mcu=" + OrDash(DeviceTextUtf8(run.mcuVersion)) + " result=" + SummaryResultWord(info, run) +
          " exit=" + std::to_string(run.exitCode) + " seconds=" + seconds;
  return line;
}

int WriteJsonDocument(std::FILE* out, std::FILE* err, const std::string& document, int code) {
  int error = 0;
  errno = 0;
  if (std::fwrite(document.data(), 1, document.size(), out) != document.size()) error = errno != 0 ? errno : EIO;
  if (std::fflush(out) != 0 && error == 0) error = errno != 0 ? errno : EIO;
  if (error == 0 && std::ferror(out)) error = EIO;
  if (error == 0) return code;
  std::fprintf(err, "fennwick-cli: cannot write the JSON document: %s\n", std::strerror(error));
  std::fflush(err);
  return code == kExitOk ? kExitLogFile : code;
}

}  // namespace fennwick
