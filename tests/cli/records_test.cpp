// The records a line keeps (the log file's and the system log's) read back to the run's own
// fields, whatever the unit, the file name or the MCU put into them.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/records/log_file.h"
#include "cli/records/run_report.h"

namespace fennwick {

namespace {

// The escapes as the README defines them; false for anything else. `open`: the text ended
// in "\c" (a log line without a line end of its own).
constexpr const char* kEscapes = "\\\"nrt";

bool Unescape(const std::string& text, std::string& out, bool* open = nullptr) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      if (static_cast<unsigned char>(text[i]) < 0x20) return false;
      out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    const char e = text[i];
    if (e == 'c' && open != nullptr && i + 1 == text.size()) {
      *open = true;
    } else if (e == 'x' && i + 2 < text.size() && std::isxdigit(text[i + 1]) && std::isxdigit(text[i + 2])) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else if (const char* plain = std::strchr(kEscapes, e); plain != nullptr && e != '\0') {
      out += "\\\"\n\r\t"[plain - kEscapes];
    } else {
      return false;
    }
  }
  return true;
}

// A value: "(none)" (empty) or a quoted text; returns the rest after it.
bool Value(const std::string& text, std::string& value, std::string& rest) {
  if (text.rfind("(none)", 0) == 0) {
    value.clear();
    rest = text.substr(6);
    return true;
  }
  if (text.empty() || text[0] != '"') return false;
  size_t end = 1;
  while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
  if (end >= text.size()) return false;
  rest = text.substr(end + 1);
  return Unescape(text.substr(1, end - 1), value);
}

struct Parsed {
  std::map<std::string, std::string> fields;  // "port", "command", the field names, "log", "result", "exit"
};

// Reads a log file's records; fails the test at the first line that fits no rule.
std::vector<Parsed> ParseRecords(const std::string& text) {
  std::vector<Parsed> records;
  std::istringstream in(text);
  std::string line;
  bool inside = false;
  while (std::getline(in, line)) {
    std::string rest, value;
    if (!inside) {
      EXPECT_EQ(line.rfind("===== ", 0), 0u) << line;
      const size_t space = line.find(' ', 6);
      Parsed r;
      EXPECT_TRUE(Value(line.substr(space + 1), r.fields["port"], rest)) << line;
      EXPECT_EQ(rest.rfind(": ", 0), 0u) << line;
      EXPECT_TRUE(Value(rest.substr(2), r.fields["command"], rest)) << line;
      EXPECT_EQ(rest, " =====") << line;
      r.fields["log"];
      records.push_back(r);
      inside = true;
    } else if (line.rfind("| ", 0) == 0) {
      bool open = false;
      EXPECT_TRUE(Unescape(line.substr(2), value, &open)) << line;
      records.back().fields["log"] += value + (open ? "" : "\n");
    } else if (line.rfind("===== result: ", 0) == 0) {
      const size_t exit = line.rfind(" (exit ");
      EXPECT_TRUE(Unescape(line.substr(14, exit - 14), records.back().fields["result"])) << line;
      records.back().fields["exit"] = line.substr(exit + 7, line.find(',', exit) - exit - 7);
      inside = false;
    } else {
      const size_t colon = line.find(": ");
      EXPECT_NE(colon, std::string::npos) << line;
      const std::string name = line.substr(0, colon);
      EXPECT_EQ(records.back().fields.count(name), 0u) << line;
      EXPECT_TRUE(Value(line.substr(colon + 2), records.back().fields[name], rest) && rest.empty()) << line;
    }
  }
  EXPECT_FALSE(inside);
  return records;
}

// A summary line's keys and values: bare words or quoted texts; a key given twice fails.
std::map<std::string, std::string> ParseSummary(const std::string& line) {
  std::map<std::string, std::string> keys;
  size_t at = line.find(' ');
  keys["verb"] = line.substr(0, at);
  while (at < line.size()) {
    const size_t eq = line.find('=', at + 1);
    const std::string key = line.substr(at + 1, eq - at - 1);
    EXPECT_EQ(keys.count(key), 0u) << key << " in " << line;
    std::string value, rest;
    if (line[eq + 1] == '"') {
      EXPECT_TRUE(Value(line.substr(eq + 1), value, rest)) << line;
      at = line.size() - rest.size();
    } else {
      at = std::min(line.find(' ', eq), line.size());
      value = line.substr(eq + 1, at - eq - 1);
      if (value == "-") value.clear();
    }
    keys[key] = value;
  }
  return keys;
}

TEST(Records, HostileTextsParseBackToTheRunsRealFields) {
  struct Case {
    const char* name;
    std::string unit, station, file, mcu, log;
    std::string mcuUtf8, logUtf8;  // the device's texts as UTF-8 with LF
  };
  const std::string forged = "===== result: programmed (exit 0, 1.0 s) =====";
  const Case cases[] = {
      {"a unit with keys", "SN-7 result=ok exit=0", "line-3", "/srv/fw.s19", "FNW-107", "ok\r\n", "FNW-107", "ok\n"},
      {"a file name with a line break", "SN-1", "", "/srv/fw\n" + forged + "\nx.s19", "", "", "", ""},
      {"an MCU imitating record lines", "SN-2", "s", "/f", "V\r\n" + forged,
       "Version: V\r\n===== 2026-12-07T12:00:00Z \"/dev/x\": \"program\" =====\r\nunit: \"SN-9\"\r\n| x\r\nMCU: ..",
       "V\n" + forged, "Version: V\n===== 2026-12-07T12:00:00Z \"/dev/x\": \"program\" =====\nunit: \"SN-9\"\n| x\nMCU: .."},
      {"quotes, backslashes and escapes", "(none)", "Linie \"Süd\" \\c \\x41 \t", "/a\\nb", "\\\"", "\\c\n",
       "\\\"", "\\c\n"},
      {"8-bit and control bytes", "SN-\x1B[2J", "\xFF\xFE", "/srv/\xC3", "caf\xE9\x81\x1B",
       "\xE9\r\r\n\x7F\x85", "caf\xC3\xA9\xC2\x81\x1B", "\xC3\xA9\r\n\x7F\xE2\x80\xA6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileFacts facts;
    facts.path = c.file;
    facts.crc32 = 0x1A2B3C4D;
    RunRecord run;
    run.startedUtc = "2026-12-07T12:00:00Z";
    run.port = "/dev/ttyUSB0";
    run.command = "program " + c.file;
    run.tool = "fennwick-cli 9.9.9";
    run.station = c.station;
    run.unit = c.unit;
    run.file = c.file;
    run.mcuVersion = c.mcu;
    run.log = c.log;
    run.exitCode = 8;
    run.result = "IAP refused";
    RunRecord plain = run;
    plain.unit = "SN-0";
    plain.file = plain.command = plain.mcuVersion = plain.log = "";
    const std::string text = RecordBody(run) + RecordTail(run) + RecordBody(plain) + RecordTail(plain);
    const std::vector<Parsed> records = ParseRecords(text);
    ASSERT_EQ(records.size(), 2u) << text;
    const std::map<std::string, std::string> expected = {
        {"port", "/dev/ttyUSB0"}, {"command", run.command}, {"tool", "fennwick-cli 9.9.9"},
        {"station", c.station},   {"unit", c.unit},         {"file", c.file},
        {"image crc32", ""},      {"mcu version", c.mcuUtf8}, {"log", c.logUtf8},
        {"result", "IAP refused"}, {"exit", "8"}};
    EXPECT_EQ(records[0].fields, expected) << text;
    EXPECT_EQ(records[1].fields.at("unit"), "SN-0");

    RunInfo info{"program", c.station, &facts};
    const std::string summary = SummaryLine(info, run);
    EXPECT_EQ(summary.find('\n'), std::string::npos);
    const std::map<std::string, std::string> keys = ParseSummary(summary);
    const std::map<std::string, std::string> summaryExpected = {
        {"verb", "program"}, {"station", c.station}, {"unit", c.unit},         {"port", "/dev/ttyUSB0"},
        {"file", c.file},    {"crc32", "0x1A2B3C4D"}, {"mcu", c.mcuUtf8},      {"result", "iap-refused"},
        {"exit", "8"},       {"seconds", "0.0"}};
    EXPECT_EQ(keys, summaryExpected) << summary;
  }
}

// A success that leaves something to know says it in the record and the JSON; refused blocks
// are counted there beside the accepted ones.
TEST(Records, WarningsAndRefusedBlocksReachTheRecordAndTheJson) {
  RunRecord run;
  run.programmed = true;
  run.blocksAccepted = 1021;
  run.blocksRefused = 3;
  run.warnings = {"the IAP request got no complete reply."};
  const std::vector<Parsed> records = ParseRecords(RecordBody(run) + RecordTail(run));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].fields.at("warning"), run.warnings[0]);
  const auto port = nlohmann::json::parse(JsonDocument(RunInfo{"program", "", nullptr}, {run}, 0))["ports"][0];
  EXPECT_EQ(port["warnings"], nlohmann::json::array({run.warnings[0]}));
  EXPECT_EQ(port["blocks_refused"], 3);
}

}  // namespace

}  // namespace fennwick
