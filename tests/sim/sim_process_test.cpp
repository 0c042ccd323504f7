// Runs the real simulator binary on its pseudo-terminal, as the host would use it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "fakes/temp_dir.h"
#include "sim_test_support.h"

extern char** environ;

namespace fennwick::sim::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - SteadyClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    args.insert(args.begin(), std::string(FENNWICK_BIN_DIR) + "/fennwick-mcu-sim");
#ifdef FENNWICK_EMULATOR
    args.insert(args.begin(), FENNWICK_EMULATOR);  // a cross build's program, from under the emulator
#endif
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    out_ = out[0];
  }
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) ::close(out_);
  }

  // The first stdout line: the terminal's path.
  std::string FirstLine(milliseconds timeout = milliseconds(3000)) {
    const auto deadline = SteadyClock::now() + timeout;
    std::string line;
    while (line.empty() || line.back() != '\n') {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, RemainingMs(deadline)) <= 0) return {};
      char c;
      if (::read(out_, &c, 1) != 1) return {};
      line.push_back(c);
    }
    line.pop_back();
    return line;
  }

  // The exit status, or nullopt if it is still running after `timeout`.
  std::optional<int> WaitExit(milliseconds timeout = milliseconds(3000)) {
    const auto deadline = SteadyClock::now() + timeout;
    // stdout closes when the process ends; wait for that rather than sleep.
    for (;;) {
      pollfd p{out_, POLLIN, 0};
      if (::poll(&p, 1, RemainingMs(deadline)) <= 0) break;
      char buf[64];
      if (::read(out_, buf, sizeof buf) <= 0) break;
    }
    for (;;) {
      int status = 0;
      const pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (r < 0 || RemainingMs(deadline) == 0) return std::nullopt;
      ::poll(nullptr, 0, 5);
    }
  }

  void Signal(int sig) { ::kill(pid_, sig); }
  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

int OpenRaw(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fd;
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::tcsetattr(fd, TCSANOW, &tio);
  return fd;
}

void WriteAll(int fd, const Bytes& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    ASSERT_GT(n, 0);
    done += static_cast<std::size_t>(n);
  }
}

// Reads until the bytes end in `end` or the time is up.
Bytes ReadUntil(int fd, std::string_view end, milliseconds timeout = milliseconds(2000)) {
  const auto deadline = SteadyClock::now() + timeout;
  Bytes got;
  while (got.size() < end.size() ||
         !std::equal(end.rbegin(), end.rend(), got.rbegin(), [](char a, std::uint8_t b) {
           return static_cast<std::uint8_t>(a) == b;
         })) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, RemainingMs(deadline)) <= 0) break;
    std::uint8_t buf[256];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  return got;
}

class SimProcessTest : public ::testing::Test {
 protected:
  TempDir tmp_;
  const fs::path dir_{tmp_.path};
};

const Bytes kVersion = BytesOf("$R:01FNW-107 Fennwick simulated MCU\r\n");

TEST_F(SimProcessTest, AnswersAQueryAndExitsWhenTheOnlyPeerLeaves) {
  SimProcess sim({"--baud", "0", "--once"});
  ASSERT_TRUE(sim.Started());
  const std::string path = sim.FirstLine();
  ASSERT_FALSE(path.empty());
  const int fd = OpenRaw(path);
  ASSERT_GE(fd, 0) << path;
  WriteAll(fd, BytesOf("$R\r\n"));
  EXPECT_EQ(ReadUntil(fd, "\r\n"), kVersion);
  ::close(fd);
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST_F(SimProcessTest, TakesAFloodWithoutLosingWhatFollows) {
  SimProcess sim({"--baud", "0", "--once"});
  const int fd = OpenRaw(sim.FirstLine());
  ASSERT_GE(fd, 0);
  Bytes flood(100'000, 'x');
  for (std::size_t i = 999; i < flood.size(); i += 1000) flood[i] = '\n';
  const Bytes query = BytesOf("\r\n$R\r\n$e\r\n");
  flood.insert(flood.end(), query.begin(), query.end());
  WriteAll(fd, flood);
  EXPECT_EQ(ReadUntil(fd, "0x8000\r\n"),
            BytesOf("$R:01FNW-107 Fennwick simulated MCU\r\n"
                  "$e:Fennwick MCU simulator, 128 KiB flash at 0x8000\r\n"));
  ::close(fd);
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST_F(SimProcessTest, PacesItsRepliesAtTheLineRateAndHoldsThemForTheAdaptersLatency) {
  SimProcess sim({"--reply-latency-ms", "150", "--once"});  // the device's own 19,200 bit/s
  const int fd = OpenRaw(sim.FirstLine());
  ASSERT_GE(fd, 0);
  const auto start = SteadyClock::now();
  WriteAll(fd, BytesOf("$R\r\n"));
  EXPECT_EQ(ReadUntil(fd, "\r\n"), kVersion);
  const auto took = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
  // 4 bytes in and 37 out at 10 bits each: 21.4 ms, and the reply held 150 ms.
  EXPECT_GE(took, 171.0);
  EXPECT_LT(took, 1000.0);
  ::close(fd);
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST_F(SimProcessTest, FlashesAWholeImageDumpsItAndServesTheNextPeer) {
  const fs::path dump = dir_ / "flash.bin";
  SimProcess sim({"--baud", "0", "--flash-ms", "0", "--dump", dump.string()});
  const std::string path = sim.FirstLine();
  int fd = OpenRaw(path);
  ASSERT_GE(fd, 0);
  WriteAll(fd, BytesOf("$wIAP\r\n"));
  ASSERT_EQ(ReadUntil(fd, "\r\n"), BytesOf("$wIAP OK\r\n"));

  std::mt19937 random(11);
  Bytes image(kFlashSize);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());
  for (std::size_t block = 0; block < kBlockCount; ++block) {
    const Bytes data(image.begin() + static_cast<std::ptrdiff_t>(block * kBlockSize),
                     image.begin() + static_cast<std::ptrdiff_t>((block + 1) * kBlockSize));
    WriteAll(fd, Packet('2', static_cast<std::uint32_t>(kFlashBase + block * kBlockSize), data));
    ASSERT_EQ(ReadUntil(fd, "."), BytesOf(".")) << block;
  }
  WriteAll(fd, EndRecord());
  // The end record gets no reply; the dump appears whole once it has been taken.
  const auto deadline = SteadyClock::now() + milliseconds(3000);
  while (!fs::exists(dump) && RemainingMs(deadline) > 0) ::poll(nullptr, 0, 10);
  EXPECT_EQ(BytesOf(ReadFile(dump.string())), image);

  // Back in query mode for this peer...
  WriteAll(fd, BytesOf("$R\r\n"));
  EXPECT_EQ(ReadUntil(fd, "\r\n"), kVersion);
  // ...and a peer that leaves mid-IAP leaves the next one in query mode.
  WriteAll(fd, BytesOf("$wIAP\r\n"));
  ASSERT_EQ(ReadUntil(fd, "\r\n"), BytesOf("$wIAP OK\r\n"));
  WriteAll(fd, Bytes(50, 'S'));
  ::close(fd);
  fd = -1;
  for (int attempt = 0; attempt < 50 && fd < 0; ++attempt) {
    // The simulator notices the hang-up within its poll period.
    ::poll(nullptr, 0, 50);
    const int probe = OpenRaw(path);
    WriteAll(probe, BytesOf("$R\r\n"));
    if (ReadUntil(probe, "\r\n", milliseconds(300)) == kVersion) {
      fd = probe;
    } else {
      ::close(probe);
    }
  }
  EXPECT_GE(fd, 0) << "no query answer after reconnecting";
  if (fd >= 0) ::close(fd);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitExit(), 0);
}

TEST_F(SimProcessTest, EndRecordStillCountsWhenTheHostClosesRightAfterIt) {
  // At line speed the record is still crossing the line when the host closes the port.
  const fs::path dump = dir_ / "flash.bin";
  SimProcess sim({"--once", "--dump", dump.string()});
  const int fd = OpenRaw(sim.FirstLine());
  ASSERT_GE(fd, 0);
  WriteAll(fd, BytesOf("$wIAP\r\n"));
  ASSERT_EQ(ReadUntil(fd, "\r\n"), BytesOf("$wIAP OK\r\n"));
  WriteAll(fd, BlockPacket(0x8000, 0x5a));
  ASSERT_EQ(ReadUntil(fd, "."), BytesOf("."));
  WriteAll(fd, EndRecord());
  ::close(fd);
  EXPECT_EQ(sim.WaitExit(), 0);
  const Bytes got = BytesOf(ReadFile(dump.string()));
  ASSERT_EQ(got.size(), kFlashSize);
  EXPECT_EQ(got[0], 0x5a);
  EXPECT_EQ(got[kBlockSize], 0xff);
}

TEST_F(SimProcessTest, RemovesItsLinkOnSigterm) {
  const fs::path link = dir_ / "ttyMCU";
  fs::create_symlink("stale-target", link);  // an old link is replaced
  SimProcess sim({"--baud", "0", "--link", link.string()});
  const std::string path = sim.FirstLine();
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::read_symlink(link).string(), path);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.WaitExit(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

TEST_F(SimProcessTest, HangUpFaultClosesTheLineAndExits) {
  const fs::path link = dir_ / "ttyMCU";
  SimProcess sim({"--baud", "0", "--flash-ms", "0", "--hangup-after", "1", "--link", link.string()});
  const int fd = OpenRaw(sim.FirstLine());
  ASSERT_GE(fd, 0);
  WriteAll(fd, BytesOf("$wIAP\r\n"));
  ASSERT_EQ(ReadUntil(fd, "\r\n"), BytesOf("$wIAP OK\r\n"));
  WriteAll(fd, BlockPacket(0x8000, 1));
  EXPECT_EQ(ReadUntil(fd, "."), BytesOf("."));
  WriteAll(fd, BlockPacket(0x8080, 1));
  // The last reply still reaches the host before the line goes.
  EXPECT_EQ(ReadUntil(fd, "."), BytesOf("."));
  const auto start = SteadyClock::now();
  // Sending the next block shows the reply was taken; the write may already fail.
  const Bytes next = BlockPacket(0x8100, 1);
  [[maybe_unused]] const ssize_t n = ::write(fd, next.data(), next.size());
  EXPECT_EQ(sim.WaitExit(), 0);
  EXPECT_LT(SteadyClock::now() - start, milliseconds(900));
  // The line is dead for the host: reads end instead of waiting.
  pollfd p{fd, POLLIN, 0};
  EXPECT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_NE(p.revents & (POLLHUP | POLLERR), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  ::close(fd);
}

TEST_F(SimProcessTest, RefusesToReplaceAFileWithItsLinkAndRejectsBadOptions) {
  const fs::path file = dir_ / "precious";
  { std::ofstream(file) << "keep"; }
  SimProcess sim({"--link", file.string()});
  EXPECT_EQ(sim.WaitExit(), 2);
  EXPECT_EQ(ReadFile(file.string()), "keep");

  SimProcess bad({"--iap-reply", "#nope"});
  EXPECT_EQ(bad.WaitExit(), 2);
  SimProcess baddump({"--dump", (dir_ / "missing" / "flash.bin").string()});
  EXPECT_EQ(baddump.WaitExit(), 2);
}

}  // namespace
}  // namespace fennwick::sim::testing
