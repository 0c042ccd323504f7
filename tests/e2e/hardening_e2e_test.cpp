// fennwick-cli against its shell: closed standard descriptors, a reader that goes away, a
// file replaced while the boards are identified, signals, and two hosts one after another.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "fakes/process.h"

namespace fennwick {

namespace {

using namespace std::chrono_literals;

constexpr size_t kPacket = 134;

// An MCU played by the test on a pseudo-terminal, with hooks at the version query and at
// every block, and the flash it was given.
class TestMcu {
 public:
  TestMcu() : flash(0x20000, 0xFF) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      if (const char* name = ::ptsname(master_)) path_ = name;
    }
  }
  ~TestMcu() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (master_ >= 0) ::close(master_);
  }
  TestMcu(const TestMcu&) = delete;
  TestMcu& operator=(const TestMcu&) = delete;

  void Start() {
    thread_ = std::thread([this] { Serve(); });
  }
  const std::string& path() const { return path_; }

  std::function<void()> onVersionQuery;     // before the answer
  std::function<bool(int block)> onBlock;   // false: the block gets no answer
  std::vector<uint8_t> flash;
  std::atomic<int> blocks{0};
  std::atomic<bool> ended{false};

 private:
  void Send(const std::string& text) {
    if (::write(master_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) ADD_FAILURE() << "write";
  }
  void Serve() {
    std::string line;
    std::vector<uint8_t> packet;
    bool iap = false;
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      uint8_t buf[4096];
      const ssize_t n = (p.revents & POLLIN) ? ::read(master_, buf, sizeof buf) : -1;
      if (n <= 0) {  // no peer yet, or gone
        std::this_thread::sleep_for(10ms);
        continue;
      }
      for (ssize_t i = 0; i < n; ++i) {
        if (!iap) {
          line += static_cast<char>(buf[i]);
          if (buf[i] != '\n') continue;
          if (line == "$R\r\n") {
            if (onVersionQuery) onVersionQuery();
            Send("$R:01FNW-107 Fennwick test MCU\r\n");
          } else if (line == "$e\r\n") {
            Send("$e:test\r\n");
          } else if (line == "$wIAP\r\n") {
            Send("$wIAP OK\r\n");
            iap = true;
          }
          line.clear();
          continue;
        }
        packet.push_back(buf[i]);
        if (packet.size() < kPacket) continue;
        if (packet[1] == '9') {
          ended = true;
          iap = false;
        } else {
          const uint32_t address = (uint32_t{packet[3]} << 16) | (uint32_t{packet[4]} << 8) | packet[5];
          if (address >= 0x8000 && address + 128 <= 0x28000) {
            std::copy(packet.begin() + 6, packet.end(), flash.begin() + (address - 0x8000));
          }
          const int block = blocks++;
          if (!onBlock || onBlock(block)) Send(".");
        }
        packet.clear();
      }
    }
  }

  int master_ = -1;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
};

std::string Cli() { return BinPath("fennwick-cli"); }
std::string Sample() { return SamplePath("fennwick-sample.s19"); }
std::vector<uint8_t> SampleImage() {
  const std::string bin = ReadFile(SamplePath("fennwick-sample.bin"));
  return {bin.begin(), bin.end()};
}
bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }
RunResult Shell(const std::string& script, int timeoutSec = 120) { return RunProgram({"/bin/sh", "-c", script}, timeoutSec); }

// Closed descriptors and a reader that stops early never reach the line or end the run:
// the board gets the image, and the result is still told where it can be.
TEST(Shell, ClosedDescriptorsAndADeadPipeNeitherCorruptTheRunNorHideItsResult) {
  TempDir dir;
  const std::string dump = dir.path + "/flash.bin";
  Simulator sim({"--baud", "460800", "--flash-ms", "0", "--dump", dump});
  const std::string run = Cli() + " --port " + sim.path() + " --log-file " + dir.path + "/runs.log program " + Sample();
  struct Case {
    const char* name;
    std::string script;
    const char* err;  // on stderr (or in the file "err")
  };
  const Case cases[] = {
      {"stdout closed", "exec " + run + " >&-", "programmed 1024 blocks"},
      {"stderr closed", "exec " + run + " 2>&-", ""},
      {"all closed", "exec " + run + " <&- >&- 2>&-", ""},
      {"pipe closed early", "{ " + run + " 2>" + dir.path + "/err; echo $? >" + dir.path + "/code; } | head -c 150 >/dev/null; exit $(cat " + dir.path + "/code)",
       "programmed 1024 blocks"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(dump.c_str());
    const RunResult r = Shell(c.script);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string err = r.err + ReadFile(dir.path + "/err");
    EXPECT_TRUE(Has(err, c.err)) << err;
    ASSERT_TRUE(WaitForFile(dump, 0x20000, 5000));
    const std::string flashed = ReadFile(dump);
    EXPECT_TRUE(std::vector<uint8_t>(flashed.begin(), flashed.end()) == SampleImage());
  }
  // Each run left its record.
  const std::string log = ReadFile(dir.path + "/runs.log");
  size_t records = 0;
  for (size_t at = 0; (at = log.find("===== result: programmed (exit 0", at)) != std::string::npos; ++at) ++records;
  EXPECT_EQ(records, 4u) << log;
}

// A record or a document that cannot be kept whole (a full disk, a file size limit, no
// system log) is no success: the system's reason on stderr and exit 13.
TEST(Shell, ARunWhoseRecordCannotBeKeptExitsThirteenWithTheRealReason) {
  TempDir dir;
  Simulator sim({"--baud", "460800"});
  const std::string log = dir.path + "/runs.log";
  const std::string cli = Cli() + " --port " + sim.path();
  struct Case {
    std::string script;
    std::string err;
  };
  const Case cases[] = {
      {"ulimit -f 0; exec " + cli + " --log-file " + log + " identify",
       "fennwick-cli: cannot write the log file " + log + ": File too large\n"},
      {"exec " + cli + " --json identify >/dev/full", "fennwick-cli: cannot write the JSON document: No space left on device\n"},
      {"ulimit -f 0; exec " + cli + " --json identify >" + dir.path + "/doc.json",
       "fennwick-cli: cannot write the JSON document: File too large\n"},
      {"ulimit -f 0; exec " + Cli() + " check --json " + Sample() + " >" + dir.path + "/check.json",
       "fennwick-cli: cannot write the JSON document: File too large\n"},
      {"FENNWICK_SYSLOG_SOCKET=" + dir.path + "/no-log exec " + cli + " --syslog identify",
       "fennwick-cli: cannot write to the system log: " + dir.path + "/no-log: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const RunResult r = Shell(c.script);
    EXPECT_EQ(r.exitCode, 13) << r.err;
    EXPECT_TRUE(Has(r.err, c.err)) << r.err;
  }
}

// The file is read once: replaced while the boards are identified, what every board gets
// is still what was checked, and the record names its CRC-32.
TEST(Shell, AFileReplacedDuringTheIdentificationIsNotWhatGetsFlashed) {
  for (const int boards : {1, 2}) {
    SCOPED_TRACE(std::to_string(boards) + " boards");
    TempDir dir;
    const std::string file = dir.path + "/fw.s19";
    const std::string other = dir.path + "/other.s19";
    ASSERT_EQ(Shell("cp " + Sample() + " " + file + " && cp " + SamplePath("fennwick-other.s19") + " " + other).exitCode, 0);
    std::vector<std::unique_ptr<TestMcu>> mcus;
    std::string args = Cli();
    for (int i = 0; i < boards; ++i) {
      mcus.push_back(std::make_unique<TestMcu>());
      args += " --port " + mcus.back()->path();
    }
    std::atomic<bool> swapped{false};
    mcus[0]->onVersionQuery = [&] {
      if (!swapped.exchange(true)) {
        EXPECT_EQ(std::rename(other.c_str(), file.c_str()), 0);
      }
    };
    for (auto& m : mcus) m->Start();
    const RunResult r = Shell(args + " --log-file " + dir.path + "/runs.log program " + file);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(swapped);
    for (auto& m : mcus) {
      EXPECT_TRUE(m->ended);
      EXPECT_TRUE(m->flash == SampleImage());
    }
    const std::string crc = "image crc32 0x190979AC";  // the sample's, as `check` prints it
    EXPECT_TRUE(Has(Shell(Cli() + " check " + Sample()).out, "crc32: 0x190979AC"));
    EXPECT_TRUE(Has(r.err, crc)) << r.err;
    EXPECT_TRUE(Has(ReadFile(dir.path + "/runs.log"), "image crc32: \"0x190979AC\""));
  }
}

// A stop request (SIGINT, SIGTERM, SIGHUP; the same signal twice at once, as `timeout`
// delivers it) stops the run after the current block with its message, its record and exit
// 14. A second signal well after the first, or SIGQUIT,, while a block's reply is awaited, ends it at once:
// the record still comes, and the port has its settings back.
TEST(Shell, StopSignalsEndTheRunWithItsRecordAndThePortRestored) {
  struct Case {
    const char* name;
    std::vector<int> atBlock;  // sent back to back when block 9 arrives
    std::vector<int> later;    // sent a second on, with block 9 left unanswered
    std::string err;
    std::string result;  // the record's closing line
  };
  const Case cases[] = {
      {"SIGINT", {SIGINT}, {}, "fennwick-cli: Stopped: interrupted after block 10 of 1024; the flash is incomplete.\n",
       "===== result: interrupted after block 10 (exit 14,"},
      {"SIGHUP", {SIGHUP}, {}, "fennwick-cli: Stopped: interrupted after block 10 of 1024", "===== result: interrupted after block 10 (exit 14,"},
      {"SIGTERM twice at once", {SIGTERM, SIGTERM}, {}, "fennwick-cli: Stopped: interrupted after block 10 of 1024",
       "===== result: interrupted after block 10 (exit 14,"},
      {"a second SIGINT", {SIGINT}, {SIGINT}, "interrupted again; stopped at once", "===== result: interrupted at once (exit 14,"},
      {"SIGTERM then SIGHUP", {SIGTERM}, {SIGHUP}, "interrupted again; stopped at once", "===== result: interrupted at once (exit 14,"},
      {"SIGQUIT", {}, {SIGQUIT}, "quit; stopped at once", "===== result: interrupted at once (exit 14,"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string pidFile = dir.path + "/pid";
    TestMcu mcu;
    termios before{};
    {
      const int fd = ::open(mcu.path().c_str(), O_RDWR | O_NOCTTY);
      ASSERT_GE(fd, 0);
      ASSERT_EQ(::tcgetattr(fd, &before), 0);
      ::close(fd);
    }
    auto send = [&](const std::vector<int>& signals) {
      const std::string pid = ReadFile(pidFile);
      ASSERT_FALSE(pid.empty());
      for (const int sig : signals) ::kill(std::stoi(pid), sig);
    };
    mcu.onBlock = [&](int block) {
      if (block != 9) return true;
      send(c.atBlock);
      return c.later.empty();  // a stop at once is tried on a block that gets no answer
    };
    mcu.Start();
    RunResult r;
    const auto start = std::chrono::steady_clock::now();
    std::thread cli([&] {
      r = Shell("echo $$ >" + pidFile + "; exec " + Cli() + " --port " + mcu.path() + " --log-file " + dir.path +
                "/runs.log program " + Sample());
    });
    if (!c.later.empty()) {
      while (mcu.blocks < 10 && std::chrono::steady_clock::now() - start < 30s) std::this_thread::sleep_for(10ms);
      std::this_thread::sleep_for(1s);  // well apart from the first: a second request
      send(c.later);
    }
    cli.join();
    EXPECT_EQ(r.exitCode, 14) << r.err;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
    EXPECT_FALSE(mcu.ended);  // no end record closes a half-sent image
    EXPECT_EQ(mcu.blocks, 10);
    EXPECT_TRUE(Has(r.err, c.err)) << r.err;
    const std::string log = ReadFile(dir.path + "/runs.log");
    EXPECT_TRUE(Has(log, c.result)) << log;
    EXPECT_EQ(log.find("===== result", log.find("===== result") + 1), std::string::npos) << log;  // one record
    termios after{};
    const int fd = ::open(mcu.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::tcgetattr(fd, &after), 0);
    ::close(fd);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
  }
}

// A host that leaves while its last bytes still cross the line (a run's end record at
// 19,200 bit/s) does not cost the next host its first query.
TEST(Shell, TheNextHostsFirstQueryIsAnsweredWhileThePreviousHostsBytesStillCross) {
  Simulator sim({"--baud", "19200"});
  for (int round = 0; round < 3; ++round) {
    const int fd = ::open(sim.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const std::string last = "$R\r\n" + std::string(1500, 'x') + "\n";  // some 800 ms on the line
    ASSERT_EQ(::write(fd, last.data(), last.size()), static_cast<ssize_t>(last.size()));
    std::this_thread::sleep_for(50ms);
    ::close(fd);
    std::this_thread::sleep_for(30ms);
    const RunResult r = RunProgram({Cli(), "--port", sim.path(), "identify"}, 30);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  }
}

}  // namespace

}  // namespace fennwick
