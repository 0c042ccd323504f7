// Firmware that an STM8 executes, in the instruction-set simulator: the host flashes the next
// sample through the MCU's own block programmer, and the programmer refuses what it must.
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "fakes/process.h"

namespace fennwick {

namespace {

const std::string kSamples = FENNWICK_STM8_SAMPLES;
const std::string kSample = kSamples + "/fennwick-stm8-sample.s19";
const std::string kNext = kSamples + "/fennwick-stm8-sample-next.s19";

RunResult Cli(const std::string& port, std::vector<std::string> args, int timeoutSec = 60) {
  args.insert(args.begin(), {BinPath("fennwick-cli"), "--port", port});
  return RunProgram(args, timeoutSec);
}

std::string Identified(const std::string& release) {
  return "========Current MCU Information========\nVersion: ST8-208 STM8 sample " + release +
         "\nFennwick STM8 sample board\n";
}

TEST(Stm8EndToEnd, CliFlashesTheNextSampleWithoutForceAndTheMcuRunsIt) {
  TempDir dir;
  const std::string dump = dir.path + "/flash.bin";
  Simulator sim({"--stm8", kSample, "--dump", dump});
  ASSERT_FALSE(sim.path().empty());

  const RunResult before = Cli(sim.path(), {"identify"});
  EXPECT_EQ(before.exitCode, 0) << before.err;
  // Exactly: no stray byte of the simulator or of a restart reaches the host.
  EXPECT_EQ(before.out, Identified("1.0"));

  const RunResult run = Cli(sim.path(), {"-q", "program", kNext}, 600);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("Done: programmed 1024 blocks, every one accepted."), std::string::npos) << run.err;

  const RunResult after = Cli(sim.path(), {"identify"});
  EXPECT_EQ(after.exitCode, 0) << after.err;
  EXPECT_EQ(after.out, Identified("1.1"));

  std::string err;
  EXPECT_EQ(sim.Stop(&err), 0) << err;
  // The build's image of the linked program, as the host sends it (gaps 0x00).
  const std::string flash = ReadFile(dump);
  ASSERT_EQ(flash.size(), 0x20000u) << err;
  EXPECT_TRUE(flash == ReadFile(kSamples + "/fennwick-stm8-sample-next.bin"));
}

// The MCU's line, opened raw as the host opens it.
class Line {
 public:
  explicit Line(const std::string& path) : fd_(::open(path.c_str(), O_RDWR | O_NOCTTY)) {
    termios tio{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &tio) == 0) {
      ::cfmakeraw(&tio);
      ::tcsetattr(fd_, TCSANOW, &tio);
    }
  }
  ~Line() {
    if (fd_ >= 0) ::close(fd_);
  }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;

  bool Send(const std::string& bytes) const {
    return ::write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Bytes up to and including `end`, or what came within 20 s.
  std::string ReplyTo(char end) const {
    std::string reply;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while ((reply.empty() || reply.back() != end) && std::chrono::steady_clock::now() < deadline) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c;
      if (::read(fd_, &c, 1) == 1) reply += c;
    }
    return reply;
  }

 private:
  int fd_;
};

std::string Packet(char type, std::uint32_t address) {
  std::string packet = {'S', type, static_cast<char>(address >> 24), static_cast<char>(address >> 16),
                        static_cast<char>(address >> 8), static_cast<char>(address)};
  for (int i = 0; i < 128; ++i) packet += static_cast<char>(i * 5 + 1);
  return packet;
}

TEST(Stm8EndToEnd, BlockProgrammerRefusesBlocksOutOfOrderOrOutsideTheFlashAndKeepsItsPlace) {
  Simulator sim({"--stm8", kSample});
  Line line(sim.path());
  ASSERT_TRUE(line.Send("$wIAP\r\n"));
  ASSERT_EQ(line.ReplyTo('\n'), "$wIAP OK\r\n");

  struct Case {
    char type;
    std::uint32_t address;
    std::string reply;  // "." or the start of a refusal
  };
  const Case cases[] = {
      {'2', 0x8080, "#out of order: 0x008080."},       // the first block is 0x8000
      {'2', 0x28000, "#outside the flash: 0x028000."},  // just past the end
      {'2', 0x7F80, "#outside the flash: 0x007F80."},   // just below the start
      {'2', 0x1008000, "#outside the flash: 0x008000."},
      {'3', 0x8000, "#not a block packet, address 0x008000."},
      {'2', 0x8000, "."},
      {'2', 0x8000, "#out of order: 0x008000."},  // the same block again
      {'2', 0x8081, "#out of order: 0x008081."},
      {'2', 0x8080, "."},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(line.Send(Packet(c.type, c.address)));
    // The host reads a block's reply up to its first ".": a refusal has that one only.
    EXPECT_EQ(line.ReplyTo('.'), c.reply) << std::hex << c.address;
  }
  // A query while it waits for blocks is refused as a line; the IAP request starts over.
  ASSERT_TRUE(line.Send("$R\r\n"));
  EXPECT_EQ(line.ReplyTo('\n').substr(0, 1), "#");
  ASSERT_TRUE(line.Send("$wIAP\r\n"));
  EXPECT_EQ(line.ReplyTo('\n'), "$wIAP OK\r\n");
  ASSERT_TRUE(line.Send(Packet('2', 0x8000)));
  EXPECT_EQ(line.ReplyTo('.'), ".");
}

TEST(Stm8EndToEnd, BadImageOrMissingSimulatorIsExplainedBeforeAnyTerminal) {
  TempDir dir;
  const std::string broken = dir.path + "/broken.s19";
  std::string text = ReadFile(kSample);
  text[text.find('\n') + 10] ^= 1;  // a digit of the first data record
  {
    std::FILE* f = std::fopen(broken.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  const std::string sim = BinPath("fennwick-mcu-sim");
  struct Case {
    std::vector<std::string> argv;
    int exitCode;
    std::string message;
  };
  const Case cases[] = {
      {{sim, "--stm8", broken}, 2, "line 2: bad checksum"},
      {{sim, "--stm8", dir.path + "/none.s19"}, 2, "No such file"},
      {{sim, "--stm8", dir.path}, 2, "not a regular file"},
      {{sim, "--stm8", kSample, "--baud", "0"}, 2, "--baud is the model's and does not apply with --stm8"},
      {{"/usr/bin/env", "PATH=" + dir.path, sim, "--stm8", kSample}, 1, "sstm8 is not installed"},
  };
  for (const Case& c : cases) {
    const RunResult r = RunProgram(c.argv, 20);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.argv.back() << ": " << r.err;
    EXPECT_EQ(r.out, "") << "no terminal offered";
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
}

}  // namespace

}  // namespace fennwick
