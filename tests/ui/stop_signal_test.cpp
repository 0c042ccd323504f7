// The window as a service: a stop signal from systemd or a terminal, against the simulated MCU.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fakes/process.h"

extern char** environ;

namespace fennwick {

namespace {

using namespace std::chrono_literals;

// The window in the background (offscreen, as this test's own environment says), silent.
pid_t StartWindow(std::vector<std::string> argv) {
  argv.insert(argv.begin(), BinPath("fennwick"));
#ifdef FENNWICK_EMULATOR
  argv.insert(argv.begin(), FENNWICK_EMULATOR);
#endif
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  // A signal ignored here (a background job's SIGINT) would stay ignored in the window.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t stops;
  sigemptyset(&stops);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
  posix_spawnattr_setsigdefault(&attr, &stops);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &files, &attr, args.data(), environ) != 0) pid = -1;
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

// Its exit code, or -1 when it has not ended in time (it is then killed).
int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(20ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

termios Settings(const std::string& path) {
  termios t{};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) {
    ::tcgetattr(fd, &t);
    ::close(fd);
  }
  return t;
}

// Settings of a terminal's own, unlike those the window sets, so that their return shows.
termios SetTerminalLike(const std::string& path) {
  termios t = Settings(path);
  t.c_lflag |= ICANON | ECHO;
  ::cfsetispeed(&t, B9600);
  ::cfsetospeed(&t, B9600);
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (fd >= 0) {
    ::tcsetattr(fd, TCSANOW, &t);
    ::close(fd);
  }
  return Settings(path);
}

bool WaitForText(const std::string& path, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (ReadFile(path).empty()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// Each stop: the window started (programming the sample, or idle), signals sent while block 5's
// reply is held back; how it ends.
TEST(WindowStop, StopSignalsEndTheWindowWithTheVerdictLoggedAndThePortRestored) {
  const std::string sample = SamplePath("fennwick-sample.s19");
  ASSERT_TRUE(std::filesystem::exists(BinPath("fennwick"))) << "build fennwick first";
  ASSERT_TRUE(std::filesystem::exists(sample)) << "build the samples first";
  const std::string verdict = "Stopped: interrupted after block 6 of 1024; the flash is incomplete.\r\n";
  struct Signal {
    int number;
    std::chrono::milliseconds after;  // since the one before
  };
  struct Case {
    const char* name;
    bool program;
    std::vector<Signal> signals;
    int exitCode;
    std::string logEnd;  // how the log that the window leaves ends; empty: not looked at
  } cases[] = {
      {"IdleWindowEndsAtOnce", false, {{SIGTERM, 0ms}}, 0, ""},
      // The second delivery, in the same moment, is the same request (a signal to the process
      // and its group).
      {"RunStopsAfterTheBlockInFlight", true, {{SIGTERM, 0ms}, {SIGTERM, 0ms}}, 14, verdict},
      {"HangUpStopsTheRunToo", true, {{SIGHUP, 0ms}}, 14, verdict},
      {"SecondSignalEndsItAtOnce", true, {{SIGTERM, 0ms}, {SIGINT, 400ms}}, 14, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir dir;
    const std::string state = dir / "state";
    const std::string dump = dir / "flash.bin";
    // The held reply keeps the run in block 5 for as long as the signals take.
    Simulator sim({"--baud", "0", "--flash-ms", "0", "--delay-reply", "5:6000", "--dump", dump});
    ASSERT_FALSE(sim.path().empty());
    const termios before = SetTerminalLike(sim.path());
    std::vector<std::string> args = {"--port", sim.path(), "--screen", "320x240", "--state", state};
    if (c.program) args.insert(args.end(), {"--program", sample});
    const pid_t window = StartWindow(args);
    ASSERT_GT(window, 0);
    // The state file comes once the MCU is identified; the run starts right after.
    if (!WaitForText(state, 30s)) {
      WaitForExit(window, 0ms);
      FAIL() << "the window did not come up";
    }
    std::this_thread::sleep_for(1500ms);
    const auto signalled = std::chrono::steady_clock::now();
    for (const Signal& s : c.signals) {
      std::this_thread::sleep_for(s.after);
      ::kill(window, s.number);
    }
    EXPECT_EQ(WaitForExit(window, 20s), c.exitCode);
    // At once, or after the one block's held reply, not after the whole run.
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, 8s);
    const std::string log = ReadFile(state);
    EXPECT_TRUE(log.ends_with(c.logEnd)) << log;
    EXPECT_EQ(log.find("Done:"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(dump)) << "the end record was sent";
    const termios after = Settings(sim.path());
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
  }
}

}  // namespace

}  // namespace fennwick
