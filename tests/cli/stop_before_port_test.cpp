// A stop request that comes while the command line is still reading its arguments and files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/interrupt.h"

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

}  // namespace

}  // namespace fennwick
