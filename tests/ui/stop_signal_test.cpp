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

// The window in the background, offscreen as this test's environment says, its output dropped.
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
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  return pid;
}

// Its exit code, or -1 when it has not ended in time (it is then killed).
int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) ::kill(pid, SIGKILL);
    std::this_thread::sleep_for(20ms);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A terminal's settings, after making them a line discipline's with echo at 9600 bit/s when
// asked: unlike those that the simulator and the window set, so that their return shows.
termios Settings(const std::string& path, bool setTerminalLike = false) {
  termios t{};
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  ::tcgetattr(fd, &t);
  if (setTerminalLike) {
    t.c_lflag |= ICANON | ECHO;
    ::cfsetspeed(&t, B9600);
    ::tcsetattr(fd, TCSANOW, &t);
    ::tcgetattr(fd, &t);
  }
  ::close(fd);
  return t;
}

// Each stop: the window started (programming the sample, or idle), signals sent while the
// simulator holds block 5's reply back; how the window ends. The run never reaches its end:
// no "Done:", no end record.
TEST(WindowStop, StopSignalsEndTheWindowWithTheVerdictLoggedAndThePortRestored) {
  const std::string sample = SamplePath("fennwick-sample.s19");
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
      // Delivered twice in one moment (to the process and its group): one request.
      {"RunStopsAfterTheBlockInFlight", true, {{SIGTERM, 0ms}, {SIGTERM, 0ms}}, 14, verdict},
      {"HangUpStopsTheRunToo", true, {{SIGHUP, 0ms}}, 14, verdict},
      {"SecondSignalEndsItAtOnce", true, {{SIGTERM, 0ms}, {SIGHUP, 400ms}}, 14, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir dir;
    const std::string state = dir / "state";
    const std::string dump = dir / "flash.bin";
    Simulator sim({"--baud", "0", "--flash-ms", "0", "--delay-reply", "5:6000", "--dump", dump, "--verbose"});
    const termios before = Settings(sim.path(), true);
    std::vector<std::string> args = {"--port", sim.path(), "--screen", "320x240", "--state", state};
    if (c.program) args.insert(args.end(), {"--program", sample});
    const pid_t window = StartWindow(args);
    ASSERT_GT(window, 0);
    // The state file comes once the window is shown; a run is stopped while block 5's reply
    // is held, however long the examination and the first blocks took.
    for (int i = 0; i < 3000 && ReadFile(state).empty(); ++i) std::this_thread::sleep_for(20ms);
    if (c.program) {
      EXPECT_TRUE(sim.WaitForErr("reply delayed by", 120000)) << "the run never reached block 5";
    }
    for (const Signal& s : c.signals) {
      std::this_thread::sleep_for(s.after);
      ::kill(window, s.number);
    }
    EXPECT_EQ(WaitForExit(window, 60s), c.exitCode);
    const std::string log = ReadFile(state);
    EXPECT_TRUE(log.ends_with(c.logEnd)) << log;
    EXPECT_EQ(log.find("Done:"), std::string::npos) << log;
    EXPECT_FALSE(std::filesystem::exists(dump)) << "the end record was sent";
    const termios after = Settings(sim.path());
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
  }
}

}  // namespace

}  // namespace fennwick
