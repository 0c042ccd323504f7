// What the command line refuses before it touches a port (empty or repeated ports, log
// targets that are no regular file, an offline examination without a version), and a
// board whose thread cannot be started.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/options/validate.h"
#include "cli/records/log_file.h"
#include "cli/verbs/commands.h"
#include "fakes/temp_dir.h"

namespace fennwick {

namespace fs = std::filesystem;

namespace {

std::string Checked(const std::function<int(CliContext&)>& check, CliContext ctx, int* code) {
  char* buf = nullptr;
  size_t len = 0;
  ctx.err = open_memstream(&buf, &len);
  ctx.out = ctx.err;
  *code = check(ctx);
  std::fclose(ctx.err);
  std::string text(buf, len);
  std::free(buf);
  return text;
}

class Arguments : public ::testing::Test {
 protected:
  TempDir tmp_;
  const fs::path dir_{tmp_.path};
};

TEST_F(Arguments, PortsMustBeNamedAndEachOnlyOnce) {
  const std::string link = (dir_ / "mcu").string();
  fs::create_symlink("/dev/null", link);
  struct Case {
    std::vector<std::string> ports;
    int code;
    std::string message;
  };
  const Case cases[] = {
      {{"/dev/ttyUSB0", "/dev/ttyUSB1"}, kExitOk, ""},
      {{""}, kExitUsage, "fennwick-cli: --port needs a device path; it was given empty\n"},
      {{"/dev/ttyUSB0", ""}, kExitUsage, "fennwick-cli: --port needs a device path; it was given empty\n"},
      {{"/dev/ttyUSB0", "/dev/ttyUSB0"}, kExitUsage, "fennwick-cli: the port /dev/ttyUSB0 is given twice\n"},
      {{"/dev/null", link}, kExitUsage, "fennwick-cli: the port " + link + " is given twice (as /dev/null)\n"},
  };
  for (const Case& c : cases) {
    CliContext ctx;
    ctx.ports = c.ports;
    int code = -1;
    EXPECT_EQ(Checked(ValidatePorts, ctx, &code), c.message);
    EXPECT_EQ(code, c.code);
  }
  // An empty FENNWICK_PORT is as unnamed as an empty --port.
  ::setenv("FENNWICK_PORT", "", 1);
  int code = -1;
  EXPECT_NE(Checked(ValidatePorts, CliContext{}, &code).find("FENNWICK_PORT is set but empty"), std::string::npos);
  EXPECT_EQ(code, kExitUsage);
  ::unsetenv("FENNWICK_PORT");
}

TEST_F(Arguments, TheLogFileIsARegularFileOrANewOne) {
  const std::string fifo = (dir_ / "fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string existing = (dir_ / "old.log").string();
  std::FILE* f = std::fopen(existing.c_str(), "w");
  std::fputs("earlier\n", f);
  std::fclose(f);
  struct Case {
    std::string path;
    const char* why;  // empty: accepted
  };
  const Case cases[] = {
      {(dir_ / "new.log").string(), ""},
      {existing, ""},
      {fifo, "is not a regular file"},
      {"/dev/full", "is not a regular file"},
      {"/dev/tty", "is not a regular file"},
      {dir_.string(), "is a directory"},
      {(dir_ / "missing" / "x.log").string(), "No such file or directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    CliContext ctx;
    ctx.logFile = c.path;
    int code = -1;
    const std::string err = Checked(
        [&](CliContext& x) {
          const int rc = OpenLogFile(x);
          EXPECT_EQ(x.log != nullptr, rc == kExitOk);
          return rc;
        },
        ctx, &code);
    if (*c.why == '\0') {
      EXPECT_EQ(code, kExitOk) << err;
    } else {
      EXPECT_EQ(code, kExitUsage);
      EXPECT_EQ(err, "fennwick-cli: cannot use the log file " + c.path + ": " + c.why + "\n");
    }
  }
}

TEST_F(Arguments, OfflineExamineNeedsTheVersion) {
  int code = -1;
  auto check = [](bool offline, bool given) {
    return [=](CliContext& ctx) { return ValidateOfflineExamine(ctx, offline, given); };
  };
  EXPECT_EQ(Checked(check(true, false), CliContext{}, &code),
            "fennwick-cli: examine --offline needs the MCU's version line: --mcu-version LINE\n");
  EXPECT_EQ(code, kExitUsage);
  for (const auto& [offline, given] : {std::pair{true, true}, {false, false}}) {
    EXPECT_EQ(Checked(check(offline, given), CliContext{}, &code), "");
    EXPECT_EQ(code, kExitOk);
  }
}

// The process limit reached: that board fails with its own message and the others run.
TEST_F(Arguments, ABoardWhoseThreadCannotStartFailsAloneAndTheTableStillCloses) {
  CliContext ctx;
  const std::string missing = (dir_ / "ttyNONE").string();
  ctx.ports = {"/dev/null-thread", missing};
  ctx.startThread = [](std::function<void()> run) {
    static int calls = 0;
    if (calls++ % 2 == 0) throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
    return std::thread(std::move(run));
  };
  int code = -1;
  const std::string text = Checked(RunIdentify, ctx, &code);
  EXPECT_EQ(code, kExitMixed) << text;  // the two boards failed in different ways
  EXPECT_NE(text.find("cannot start a thread for this board: Resource temporarily unavailable"), std::string::npos)
      << text;
  EXPECT_NE(text.find("no such device: " + missing), std::string::npos) << text;  // the other board ran
  EXPECT_NE(text.find("thread not started"), std::string::npos) << text;          // in the table
}

}  // namespace

}  // namespace fennwick
