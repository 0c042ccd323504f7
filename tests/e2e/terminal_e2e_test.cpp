// fennwick-cli in a shell: standard output as text or raw, quiet and verbose runs, a file
// from standard input, a dry run, unknown options, and the progress on a real terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fakes/process.h"

namespace fennwick {

namespace {

// Joins by appending: gcc 12 at -O3 misreads a literal + std::string as an overlapping copy.
std::string Cat(std::initializer_list<std::string_view> parts) {
  std::string text;
  for (const std::string_view part : parts) text.append(part);
  return text;
}

// Runs a line of shell with the command line's path as $CLI, for pipes and redirections.
RunResult Shell(const std::string& line, int timeoutSec = 60) {
  return RunProgram({"/bin/sh", "-c", Cat({"CLI='", BinPath("fennwick-cli"), "'; ", line})}, timeoutSec);
}

// An MCU whose version reply carries an 8-bit character and a terminal's escape sequence.
TEST(ShellTerminal, StdoutIsTextInTheLocaleRawKeepsTheDeviceBytesQuietDropsTheLog) {
  Simulator sim({"--baud", "0", "--version-reply", "$R:01AB\\xE9\\x1B[2JCD\\r\\n", "--no-description"});
  struct Case {
    std::string locale;
    std::string options;
    std::string out;
    std::string errHas;
  };
  const std::string head = "========Current MCU Information========";
  const std::vector<Case> cases = {
      {"C.UTF-8", "", head + "\nVersion: AB\xC3\xA9\\x1B[2JCD\nNo description.\n", ""},
      {"C", "", head + "\nVersion: AB\\xE9\\x1B[2JCD\nNo description.\n", ""},
      {"C.UTF-8", "--raw", head + "\r\nVersion: AB\xE9\x1B[2JCD\r\nNo description.\r\n", ""},
      {"C.UTF-8", "-q", "", ""},
      // The version query goes out, its reply comes in, each with its time.
      {"C.UTF-8", "-q -v", "", " ms > 24 52 0D 0A\n"},
      {"C.UTF-8", "--verbose --quiet", "", " ms < 24 52 3A 30 31 41 42 E9 1B"},
  };
  for (const Case& c : cases) {
    const RunResult r = Shell(Cat({"LC_ALL=", c.locale, " \"$CLI\" -p ", sim.path(), " identify ", c.options}));
    EXPECT_EQ(r.exitCode, 0) << c.options << r.err;
    EXPECT_EQ(r.out, c.out) << c.locale << " " << c.options;
    EXPECT_NE(r.err.find(c.errHas), std::string::npos) << c.options << "\n" << r.err;
  }
}

TEST(ShellTerminal, FileFromStandardInputAndDryRunsThatStopBeforeTheIapRequest) {
  TempDir dir;
  const std::string dump = dir.path + "/flash.bin";
  Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", dump});
  const std::string program = Cat({"\"$CLI\" -p ", sim.path(), " program "});
  struct Case {
    std::string line;
    int code;
    std::string errHas;
  };
  const std::vector<Case> cases = {
      {program + "--dry-run - < " + SamplePath("fennwick-sample.s19"), 0, "dry run"},
      {program + "--dry-run " + SamplePath("fennwick-other.s19"), 5, "does not suit"},
      {program + "--dry-run --force " + SamplePath("fennwick-other.s19"), 0, "dry run"},
      {"head -c 67108865 /dev/zero | \"$CLI\" check -", 7, "standard input: is larger than"},
      {"\"$CLI\" check - < /dev/null", 11, ""},
  };
  for (const Case& c : cases) {
    const RunResult r = Shell(c.line);
    EXPECT_EQ(r.exitCode, c.code) << c.line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.errHas), std::string::npos) << c.line << "\n" << r.err;
  }
  // No dry run asked for IAP: the flash was never written.
  EXPECT_FALSE(WaitForFile(dump, 0x20000, 100));
  // With stderr in the same pipe, the verdict still starts a line of its own.
  const RunResult r = Shell(program + "- < " + SamplePath("fennwick-sample.s19") + " 2>&1", 120);
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_NE(r.out.find(".\nfennwick-cli: Done: programmed 1024 blocks"), std::string::npos) << r.out;
  ASSERT_TRUE(WaitForFile(dump, 0x20000, 5000));
  EXPECT_EQ(ReadFile(dump), ReadFile(SamplePath("fennwick-sample.bin")));
}

TEST(CliTerminal, AnUnknownOptionIsNamedFirst) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--bogus"}, {"--bogus", "identify"}, {"program", "--bogus"}, {"frob", "--bogus"}}) {
    std::vector<std::string> argv = {BinPath("fennwick-cli")};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult r = RunProgram(argv);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.rfind("fennwick-cli: unknown option --bogus", 0), 0u) << r.err;
  }
}

std::string Capture(const std::string& socket) {
  TempDir dir;
  const int rc = std::system(Cat({"tmux -L ", socket, " capture-pane -p > ", dir.path, "/screen"}).c_str());
  return rc == 0 ? ReadFile(dir.path + "/screen") : std::string();
}

// In an 80x24 terminal a run leaves one progress line per board on the screen, however
// often it was redrawn; every row fits the width.
TEST(ShellTerminal, AnEightyColumnTerminalKeepsOneProgressLinePerBoard) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux missing";
  TempDir dir;
  Simulator one({"--baud", "0", "--flash-ms", "2"});
  Simulator two({"--baud", "0", "--flash-ms", "2"});
  int session = 0;
  for (const std::string& ports : {Cat({"-p ", one.path()}), Cat({"-p ", one.path(), " -p ", two.path()})}) {
    // A server of its own each time: the last one may still be shutting down.
    const std::string socket = Cat({"fennwick-test-", std::to_string(::getpid()), "-", std::to_string(++session)});
    const std::string done = dir.path + "/done";
    std::remove(done.c_str());
    const std::string run = Cat({"'", BinPath("fennwick-cli"), "' ", ports, " program ",
                                 SamplePath("fennwick-sample.s19"), "; echo $? > ", done, "; sleep 60"});
    ASSERT_EQ(std::system(Cat({"tmux -L ", socket, " new-session -d -x 80 -y 24 \"", run, "\""}).c_str()), 0);
    // Looked at while it runs and once it has ended.
    size_t most = 0;
    bool finished = false;
    std::string screen;
    for (int i = 0; i < 600 && !finished; ++i) {
      finished = WaitForFile(done, 2, 100);
      screen = Capture(socket);
      std::istringstream rows(screen);
      size_t progressRows = 0;
      for (std::string row; std::getline(rows, row);) {
        if (row.find("/1024") == std::string::npos) continue;
        ++progressRows;
        EXPECT_LT(row.size(), 80u) << row;
      }
      most = std::max(most, progressRows);
    }
    const int killed = std::system(Cat({"tmux -L ", socket, " kill-server"}).c_str());
    EXPECT_EQ(killed, 0);
    ASSERT_TRUE(finished);
    EXPECT_EQ(ReadFile(done), "0\n") << screen;
    const size_t boards = ports.find(two.path()) == std::string::npos ? 1 : 2;
    EXPECT_EQ(most, boards) << screen;
  }
}

}  // namespace

}  // namespace fennwick
