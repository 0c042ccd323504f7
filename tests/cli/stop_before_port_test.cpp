// A stop request that comes while the command line is still reading its arguments and files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/options/command_line.h"
#include "cli/records/interrupt.h"

namespace fennwick {

namespace {

TEST(StopBeforePort, EndsTheProgramWithoutOpeningAPort) {
  char config[] = "/tmp/fennwick-stop-XXXXXX";
  const int fd = ::mkstemp(config);
  ASSERT_GE(fd, 0);
  ::close(fd);
  // A port that cannot be opened: reaching it would end in exit 3 instead.
  std::vector<std::string> args = {"fennwick-cli", "--config", config, "--port", "/nonexistent/mcu", "identify"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  RequestStop(true);
  testing::internal::CaptureStderr();
  const int code = RunCommandLine(static_cast<int>(argv.size()), argv.data());
  const std::string err = testing::internal::GetCapturedStderr();
  RequestStop(false);
  ::unlink(config);
  EXPECT_EQ(code, 14);
  EXPECT_EQ(err, "fennwick-cli: interrupted before any port was opened; nothing was sent\n");
}

#ifndef _WIN32  // a POSIX pipe as standard input
// A producer that stalls cannot hold a stop off: the wait for standard input ends with it.
TEST(StopBeforePort, EndsAWaitForFirmwareOnStandardInput) {
  char config[] = "/tmp/fennwick-stop-XXXXXX";
  ::close(::mkstemp(config));
  const int savedIn = ::dup(STDIN_FILENO);
  for (const char* json : {"", "--json"}) {
    for (const char* verb : {"check", "program"}) {
      int pipeFds[2];
      ASSERT_EQ(::pipe(pipeFds), 0);
      ::dup2(pipeFds[0], STDIN_FILENO);
      ::close(pipeFds[0]);
      std::vector<std::string> args = {"fennwick-cli", "--config", config, "-p", "/nonexistent/mcu", verb, "-"};
      if (json[0] != '\0') args.insert(args.begin() + 1, json);
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(arg.data());
      // The writer stays open for 5 s: only the stop ends the wait before then.
      std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        RequestStop(true);
        for (int i = 0; i < 500 && StopRequested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ::close(pipeFds[1]);
      });
      testing::internal::CaptureStdout();
      testing::internal::CaptureStderr();
      const int code = RunCommandLine(static_cast<int>(argv.size()), argv.data());
      const std::string err = testing::internal::GetCapturedStderr();
      const std::string out = testing::internal::GetCapturedStdout();
      RequestStop(false);
      stopper.join();
      EXPECT_EQ(code, 14) << verb;
      EXPECT_EQ(err, "fennwick-cli: stopped while waiting for the firmware on standard input; nothing was sent\n");
      EXPECT_EQ(out.find("\"result\": \"interrupted\"") != std::string::npos, json[0] != '\0') << out;
    }
  }
  ::dup2(savedIn, STDIN_FILENO);
  ::close(savedIn);
  ::unlink(config);
}
#endif

}  // namespace

}  // namespace fennwick
