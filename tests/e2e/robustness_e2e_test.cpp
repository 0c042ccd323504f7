// fennwick-cli when the port vanishes before the blocks (a pty whose far side the test
// holds and hangs up), and two runs started at once on one port.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <thread>

#include "fakes/process.h"

namespace fennwick {

namespace {

using namespace std::chrono_literals;

// The MCU's side of a pseudo-terminal, played by the test.
class PtyMcu {
 public:
  PtyMcu() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    // The programs started later must not inherit it: a copy held open there would keep
    // the line up after HangUp().
    if (master_ >= 0) ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
      if (const char* name = ::ptsname(master_)) path_ = name;
    }
  }
  ~PtyMcu() { HangUp(); }
  PtyMcu(const PtyMcu&) = delete;
  PtyMcu& operator=(const PtyMcu&) = delete;
  const std::string& path() const { return path_; }

  // Reads until `token` has come; false after timeoutMs. Until the program opens its side
  // the master reports a hang-up, which only means "not yet".
  bool WaitFor(const std::string& token, int timeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (seen_.find(token) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      char buf[4096];
      const ssize_t n = (p.revents & POLLIN) ? ::read(master_, buf, sizeof buf) : -1;
      if (n > 0) {
        seen_.append(buf, static_cast<size_t>(n));
      } else {
        std::this_thread::sleep_for(20ms);
      }
    }
    return true;
  }
  void Send(const std::string& bytes) { ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  // As a pulled USB adapter: the program's reads and writes on the line fail from now on.
  void HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }
  const std::string& seen() const { return seen_; }

 private:
  int master_ = -1;
  std::string path_;
  std::string seen_;
};

struct VanishCase {
  const char* name;
  const char* hangUpAfter;  // the query after which the line goes
  const char* sendFirst;    // what the MCU still sends before it goes
};

class VanishingPort : public testing::TestWithParam<VanishCase> {};

TEST_P(VanishingPort, EndsTheRunAtOnceWithExitTenAndSaysThePortWasLost) {
  const VanishCase& c = GetParam();
  PtyMcu mcu;
  ASSERT_FALSE(mcu.path().empty());
  RunResult r;
  const auto start = std::chrono::steady_clock::now();
  std::thread cli([&] {
    r = RunProgram({BinPath("fennwick-cli"), "--port", mcu.path(), "program", SamplePath("fennwick-sample.s19")}, 180);
  });
  ASSERT_TRUE(mcu.WaitFor("$R\r\n"));
  if (std::string(c.hangUpAfter) != "$R\r\n") {
    mcu.Send("$R:01FNW-107 Fennwick simulated MCU\r\n");
    ASSERT_TRUE(mcu.WaitFor("$e\r\n"));
    mcu.Send("$e:simulated\r\n");
    ASSERT_TRUE(mcu.WaitFor(c.hangUpAfter));
  }
  mcu.Send(c.sendFirst);
  mcu.HangUp();
  cli.join();
  const auto took = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(r.exitCode, 10) << r.out << r.err;
  EXPECT_LT(took, 15s);  // no 5 s query time-out, let alone 1,024 block time-outs
  EXPECT_NE(r.err.find("was lost"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("MCU silent"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("programmed"), std::string::npos) << r.err;
  EXPECT_EQ(mcu.seen().find("S2"), std::string::npos);  // no block reached the line
}

INSTANTIATE_TEST_SUITE_P(
    Cli, VanishingPort,
    testing::Values(VanishCase{"DuringTheVersionQuery", "$R\r\n", ""},
                    VanishCase{"DuringTheVersionReply", "$R\r\n", "$R:01FN"},
                    VanishCase{"DuringTheIapRequest", "$wIAP\r\n", ""},
                    VanishCase{"DuringTheIapReply", "$wIAP\r\n", "$wIAP O"}),
    [](const testing::TestParamInfo<VanishCase>& info) { return std::string(info.param.name); });

TEST(VanishingPort, LostDuringTheIdentificationStartsNoRun) {
  PtyMcu mcu;
  RunResult r;
  std::thread cli([&] { r = RunProgram({BinPath("fennwick-cli"), "--port", mcu.path(), "identify"}, 60); });
  ASSERT_TRUE(mcu.WaitFor("$R\r\n"));
  mcu.HangUp();
  cli.join();
  EXPECT_EQ(r.exitCode, 10) << r.err;
  EXPECT_NE(r.err.find("was lost during the identification"), std::string::npos) << r.err;
}

// Counts the IAP sessions that the simulator ended, and how many of them were clean.
int Sessions(const std::string& simErr, int* clean) {
  static const std::regex kSession("IAP session ended: blocks (\\d+), errors (\\d+)");
  int n = 0;
  *clean = 0;
  for (auto it = std::sregex_iterator(simErr.begin(), simErr.end(), kSession); it != std::sregex_iterator(); ++it) {
    ++n;
    if ((*it)[1] == "1024" && (*it)[2] == "0") ++*clean;
  }
  return n;
}

TEST(Contention, TwoRunsStartedAtOnceOnOnePortOneGetsItTheOtherIsToldItIsBusy) {
  constexpr int kRounds = 3;
  TempDir dir;
  const std::string dump = dir.path + "/flash.bin";
  // A line rate that keeps the winner on the line for seconds, so that the two overlap.
  Simulator sim({"--baud", "460800", "--flash-ms", "0", "--dump", dump});
  const std::vector<std::string> args = {BinPath("fennwick-cli"), "--port", sim.path(), "program",
                                         SamplePath("fennwick-sample.s19")};
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    RunResult a, b;
    std::thread ta([&] { a = RunProgram(args, 120); });
    std::thread tb([&] { b = RunProgram(args, 120); });
    ta.join();
    tb.join();
    const RunResult& winner = a.exitCode == 0 ? a : b;
    const RunResult& loser = a.exitCode == 0 ? b : a;
    EXPECT_EQ(winner.exitCode, 0) << winner.err;
    EXPECT_EQ(loser.exitCode, 3) << loser.out << loser.err;
    EXPECT_NE(loser.err.find("busy"), std::string::npos) << loser.err;
    EXPECT_EQ(loser.out, "Open MCU COM port Error!!!\n");  // and nothing more: it never reached the line
    ASSERT_TRUE(WaitForFile(dump, 0x20000, 5000));
    EXPECT_EQ(ReadFile(dump), ReadFile(SamplePath("fennwick-sample.bin")));
    std::remove(dump.c_str());
  }
  // The MCU saw one run per round, each whole and clean: the loser's bytes never reached it.
  std::string simErr;
  sim.Stop(&simErr);
  int clean = 0;
  EXPECT_EQ(Sessions(simErr, &clean), kRounds) << simErr;
  EXPECT_EQ(clean, kRounds) << simErr;
}

}  // namespace

}  // namespace fennwick
