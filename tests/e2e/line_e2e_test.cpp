// The command line as a production line's scripts use it: options on either side of the
// command, a configuration file, the JSON document, the run records and raw binary images.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "fakes/process.h"

namespace fennwick {

using nlohmann::json;

namespace {

std::vector<std::string> Argv(std::vector<std::string> args) {
  args.insert(args.begin(), BinPath("fennwick-cli"));
  return args;
}

json Parse(const RunResult& r) {
  json doc = json::parse(r.out, nullptr, false);
  EXPECT_FALSE(doc.is_discarded()) << r.out << r.err;
  return doc;
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(CliLine, OptionsWorkBeforeAndAfterEachCommand) {
  Simulator sim({"--baud", "0", "--flash-ms", "0"});
  const std::string bin = SamplePath("fennwick-sample.bin");
  const std::vector<std::vector<std::string>> commands = {{"identify"}, {"examine", bin}, {"program", bin}};
  for (const auto& command : commands) {
    std::vector<std::string> before = {"-p", sim.path(), "--json", "--station", "S"};
    before.insert(before.end(), command.begin(), command.end());
    std::vector<std::string> after = command;
    after.insert(after.end(), {"--port", sim.path(), "--station", "S", "--json"});
    for (const auto& args : {before, after}) {
      const RunResult r = RunProgram(Argv(args), 120);
      EXPECT_EQ(r.exitCode, 0) << command[0] << r.err;
      const json doc = Parse(r);
      EXPECT_EQ(doc.value("command", ""), command[0]);
      EXPECT_EQ(doc.value("station", ""), "S");
      ASSERT_EQ(doc["ports"].size(), 1u) << r.out;
      EXPECT_EQ(doc["ports"][0]["port"], sim.path());
    }
  }
  // The file's own options, too, and a command that takes no port.
  for (const auto& args : {Argv({"--format", "bin", "--json", "check", bin}),
                           Argv({"check", bin, "--json", "--format", "bin"})}) {
    const RunResult r = RunProgram(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Parse(r)["file"]["format"], "binary");
  }
  const RunResult ports = RunProgram(Argv({"ports", "-p", "/dev/fennwick-x"}));
  EXPECT_NE(ports.out.find("\"COM2:\" maps to /dev/fennwick-x"), std::string::npos) << ports.out;
  // Only paths, for a shell's completion: every line names a device node.
  const RunResult names = RunProgram(Argv({"ports", "--names"}));
  EXPECT_EQ(names.exitCode, 0) << names.err;
  for (size_t at = 0; at < names.out.size(); at = names.out.find('\n', at) + 1) EXPECT_EQ(names.out.compare(at, 5, "/dev/"), 0) << names.out;
}

TEST(CliLine, VersionUnknownCommandsAndWrongCombinations) {
  const RunResult version = RunProgram(Argv({"--version"}));
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("fennwick-cli ", 0), 0u) << version.out;
  EXPECT_EQ(version.out.find_first_not_of("0123456789.", 13), version.out.size() - 1) << version.out;

  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"frob"}, "unknown command \"frob\""},
      {{"-p", "/dev/null", "flash", "x"}, "unknown command \"flash\""},
      {{"--unit", "A", "--unit", "B", "-p", "/dev/x", "identify"}, "--unit is given 2 times for 1 port"},
      {{"--station", "a\nb", "identify"}, "--station needs a name without control characters"},
      {{"--base", "0x7000", "check", SamplePath("fennwick-sample.bin")}, "--base 0x7000 is not an address inside"},
      {{"--base", "0x8000", "check", SamplePath("fennwick-sample.s19")}, "--base applies to raw binary images only"},
      {{"--format", "elf", "check", "x"}, "--format"},
      {{"--json", "ports", "--names"}, "ports --names and --json exclude each other"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(Argv(c.args));
    EXPECT_EQ(r.exitCode, 2) << c.args[0];
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

TEST(CliLine, ConfigurationFileGivesDefaultsThatTheLineOverrides) {
  TempDir dir;
  Simulator sim({"--baud", "0"});
  const std::string ini = dir.path + "/fennwick.ini";
  WriteText(ini, "port = [\"" + sim.path() + "\"]\nstation = \"from-file\"\nunit = [\"U-file\"]\n");

  RunResult r = RunProgram(Argv({"--config", ini, "identify", "--json"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  json doc = Parse(r);
  EXPECT_EQ(doc["station"], "from-file");
  EXPECT_EQ(doc["ports"][0]["port"], sim.path());
  EXPECT_EQ(doc["ports"][0]["unit"], "U-file");

  r = RunProgram(Argv({"identify", "--config", ini, "--json", "--station", "from-line"}));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Parse(r)["station"], "from-line");

  // Without --config the user's file is read by default.
  const std::string home = dir.path + "/home";
  ASSERT_EQ(std::system(("mkdir -p " + home + "/.config/fennwick && cp " + ini + " " + home +
                         "/.config/fennwick/fennwick.ini")
                            .c_str()),
            0);
  {
    // Set here rather than through env(1), so that the program is started directly (on a
    // cross build, under its emulator). Each test runs in a process of its own.
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome != nullptr ? oldHome : "";
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_CONFIG_HOME");
    r = RunProgram(Argv({"--json", "identify"}));
    if (oldHome != nullptr) ::setenv("HOME", savedHome.c_str(), 1);
  }
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Parse(r)["station"], "from-file");

  r = RunProgram(Argv({"--config", dir.path + "/missing.ini", "identify"}));
  EXPECT_EQ(r.exitCode, 2) << r.err;
}

// Four boards: two flash, one refuses IAP, one has no device. The document tells each
// board's fate, and the mixed failures give 12.
TEST(CliLine, JsonOfAGangRunWithMixedFailures) {
  TempDir dir;
  std::vector<std::unique_ptr<Simulator>> sims;
  std::vector<std::string> ports;
  for (int i = 0; i < 3; ++i) {
    std::vector<std::string> args = {"--baud", "0", "--flash-ms", "0", "--dump",
                                     dir.path + "/flash" + std::to_string(i) + ".bin"};
    if (i == 2) args.push_back("--refuse-iap");
    sims.push_back(std::make_unique<Simulator>(args));
    ports.push_back(sims.back()->path());
  }
  ports.push_back(dir.path + "/no-such-port");
  // The system log, played by the test.
  const std::string logSocket = dir.path + "/log";
  const int syslogFd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", logSocket.c_str());
  ASSERT_EQ(::bind(syslogFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ::setenv("FENNWICK_SYSLOG_SOCKET", logSocket.c_str(), 1);
  std::vector<std::string> args = {"--json", "--syslog", "--station", "Linie Süd", "--log-file", dir.path + "/runs.log"};
  for (size_t i = 0; i < ports.size(); ++i) {
    args.insert(args.end(), {"-p", ports[i], "--unit", "SN-" + std::to_string(i)});
  }
  const std::string s19 = std::filesystem::path(SamplePath("fennwick-sample.s19")).lexically_normal().string();
  args.insert(args.end(), {"program", s19});
  const RunResult r = RunProgram(Argv(args), 300);
  ::unsetenv("FENNWICK_SYSLOG_SOCKET");
  EXPECT_EQ(r.exitCode, 12) << r.err;
  const json doc = Parse(r);
  std::string syslog;
  char line[2048];
  for (ssize_t n; (n = ::recv(syslogFd, line, sizeof line, MSG_DONTWAIT)) > 0;) syslog.append(line, n) += '\n';
  ::close(syslogFd);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_NE(syslog.find("]: program station=\"Linie Süd\" unit=\"SN-" + std::to_string(i) + "\" port=\"" + ports[i] + "\""),
              std::string::npos)
        << syslog;
  }
  EXPECT_NE(syslog.find("<14>"), std::string::npos) << syslog;  // user.info for a port that succeeded
  const RunResult check = RunProgram(Argv({"check", s19}));
  const size_t at = check.out.find("crc32: ");
  ASSERT_NE(at, std::string::npos);
  const std::string crc = check.out.substr(at + 7, 10);

  EXPECT_EQ(doc["format_version"], 1);
  EXPECT_EQ(doc["tool"]["name"], "fennwick-cli");
  EXPECT_EQ(doc["command"], "program");
  EXPECT_EQ(doc["station"], "Linie Süd");  // command-line text is UTF-8 already
  EXPECT_EQ(doc["result"], "mixed");
  EXPECT_EQ(doc["exit_code"], 12);
  EXPECT_EQ(doc["file"]["path"], s19);
  EXPECT_EQ(doc["file"]["format"], "S19");
  EXPECT_EQ(doc["file"]["crc32"], crc);
  EXPECT_EQ(doc["file"]["description"]["compatibility"], "107");
  ASSERT_EQ(doc["ports"].size(), 4u);
  struct Expect {
    const char* result;
    int code;
    const char* verdict;  // "" for null
    int blocks;           // -1 for null
  };
  const Expect expect[] = {{"ok", 0, "suitable", 1024},
                           {"ok", 0, "suitable", 1024},
                           {"iap-refused", 8, "suitable", -1},
                           {"port-failed", 3, "", -1}};
  for (size_t i = 0; i < 4; ++i) {
    const json& p = doc["ports"][i];
    SCOPED_TRACE(p.dump());
    EXPECT_EQ(p["port"], ports[i]);
    EXPECT_EQ(p["unit"], "SN-" + std::to_string(i));
    EXPECT_EQ(p["result"], expect[i].result);
    EXPECT_EQ(p["exit_code"], expect[i].code);
    if (expect[i].verdict[0] != '\0') {
      EXPECT_EQ(p["verdict"], expect[i].verdict);
      EXPECT_EQ(p["mcu_version"], "FNW-107 Fennwick simulated MCU");
      EXPECT_EQ(p["mcu_description"], "Fennwick MCU simulator, 128 KiB flash at 0x8000");
    } else {
      EXPECT_TRUE(p["verdict"].is_null());
      EXPECT_TRUE(p["mcu_version"].is_null());
    }
    if (expect[i].blocks >= 0) {
      EXPECT_EQ(p["blocks_accepted"], expect[i].blocks);
      EXPECT_EQ(p["timeouts"], 0);
    } else {
      EXPECT_TRUE(p["blocks_accepted"].is_null());
    }
    EXPECT_TRUE(p["seconds"].is_number());
    EXPECT_TRUE(p["started"].is_string());
    EXPECT_TRUE(p["log"].is_string());
  }
  EXPECT_NE(doc["ports"][2]["log"].get<std::string>().find("Current MCU don't support IAP feature!"),
            std::string::npos);
  // Nothing but the document on stdout.
  EXPECT_EQ(r.out.rfind("{\n", 0), 0u);
  EXPECT_EQ(r.out.substr(r.out.size() - 2), "}\n");

  // The same facts in each run record.
  const std::string log = ReadFile(dir.path + "/runs.log");
  for (size_t i = 0; i < 4; ++i) {
    const size_t head = log.find(" \"" + ports[i] + "\": \"program ");
    ASSERT_NE(head, std::string::npos) << log;
    const std::string record = log.substr(head, log.find("===== result", head) - head);
    EXPECT_NE(record.find("\nstation: \"Linie Süd\"\nunit: \"SN-" + std::to_string(i) + "\"\nfile: \"" + s19 +
                          "\"\nimage crc32: \"" + crc + "\"\n"),
              std::string::npos)
        << record;
    EXPECT_NE(record.find("\ntool: \"fennwick-cli "), std::string::npos) << record;
  }
}

TEST(CliLine, RawBinaryIsFlashedExactlyAndOneTooLongOrEmptyIsRefused) {
  TempDir dir;
  {
    Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", dir.path + "/flash.bin"});
    const RunResult r = RunProgram(Argv({"-p", sim.path(), "program", SamplePath("fennwick-sample.bin")}), 120);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(WaitForFile(dir.path + "/flash.bin", 0x20000, 5000));
    EXPECT_EQ(ReadFile(dir.path + "/flash.bin"), ReadFile(SamplePath("fennwick-sample.bin")));
  }
  {
    // A part of the flash, given by --format and --base: the rest of the flash is zero (it has
    // no description block, hence --force).
    const std::string part = dir.path + "/part.dat";
    WriteText(part, std::string(0x200, '\x3C'));
    Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", dir.path + "/flash2.bin"});
    const RunResult r =
        RunProgram(Argv({"program", part, "--force", "--format", "bin", "--base", "0x9000", "-p", sim.path()}), 120);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ASSERT_TRUE(WaitForFile(dir.path + "/flash2.bin", 0x20000, 5000));
    std::string expected(0x20000, '\0');
    expected.replace(0x1000, 0x200, std::string(0x200, '\x3C'));
    EXPECT_EQ(ReadFile(dir.path + "/flash2.bin"), expected);
  }
  // One too long for the flash, and an empty one: neither is flashed, not even with --force.
  for (const auto& [size, message] : {std::pair<size_t, std::string>{0x20001, "does not fit the flash: 131073 bytes "
                                                                                "from 0x08000 run past the flash's end"},
                                      std::pair<size_t, std::string>{0, "is empty: nothing to program"}}) {
    const std::string bad = dir.path + "/bad.bin";
    WriteText(bad, std::string(size, '\x11'));
    Simulator sim({"--baud", "0", "--flash-ms", "0"});
    const RunResult r = RunProgram(Argv({"-p", sim.path(), "program", "--force", "--json", bad}), 60);
    EXPECT_EQ(r.exitCode, 11);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Done"), std::string::npos) << r.err;
    // Nothing reached the board, not even the identification; the script still gets a document.
    const json doc = Parse(r);
    EXPECT_EQ(doc["exit_code"], 11);
    EXPECT_EQ(doc["result"], "file-problems");
    EXPECT_TRUE(doc["ports"].empty());
  }
}

}  // namespace

}  // namespace fennwick
