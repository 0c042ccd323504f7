// fennwick-cli program against boards that misbehave in the field: an MCU that hangs
// mid-run, and a file that does not suit the MCU.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes/process.h"

namespace fennwick {

namespace {

using namespace std::chrono_literals;

struct Timed {
  RunResult r;
  std::chrono::steady_clock::duration took;
};

Timed Program(const std::string& port, std::vector<std::string> args, int timeoutSec = 120) {
  args.insert(args.begin(), {BinPath("fennwick-cli"), "--port", port, "program"});
  const auto start = std::chrono::steady_clock::now();
  Timed t{RunProgram(args, timeoutSec), {}};
  t.took = std::chrono::steady_clock::now() - start;
  return t;
}

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// An MCU that stops answering after block 10: three silences of --block-timeout, and the
// run ends without the end record.
TEST(CliField, HungMcuEndsAfterThreeBlockTimeOutsInARow) {
  TempDir dir;
  Simulator sim({"--baud", "0", "--flash-ms", "0", "--hang-after", "10", "--dump", dir.path + "/flash.bin"});
  const Timed t = Program(sim.path(), {"--block-timeout", "400", SamplePath("fennwick-sample.s19")});
  EXPECT_EQ(t.r.exitCode, 9) << t.r.err;
  EXPECT_TRUE(t.r.out.ends_with("Response time out\n3 block replies in a row timed out, programming stopped!\n"))
      << t.r.out;
  EXPECT_TRUE(Has(t.r.err, "Stopped: 3 block replies in a row timed out (blocks 11 to 13); the flash is incomplete."))
      << t.r.err;
  EXPECT_LT(t.took, 10s);
  EXPECT_FALSE(WaitForFile(dir.path + "/flash.bin", 0x20000, 300)) << "no end record";

  const RunResult bad = RunProgram({BinPath("fennwick-cli"), "--port", sim.path(), "program", "--max-timeouts", "-1",
                                    SamplePath("fennwick-sample.s19")});
  EXPECT_EQ(bad.exitCode, 2) << bad.err;
}

TEST(CliField, UnsuitableFileIsRefusedWithoutAByteOfIapUnlessForced) {
  TempDir dir;
  const std::string dump = dir.path + "/flash.bin";
  Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", dump});
  const Timed refused = Program(sim.path(), {SamplePath("fennwick-other.s19")});
  EXPECT_EQ(refused.r.exitCode, 5) << refused.r.err;
  EXPECT_TRUE(Has(refused.r.err, "does not suit the MCU attached")) << refused.r.err;
  EXPECT_TRUE(Has(refused.r.err, "nothing was sent")) << refused.r.err;
  EXPECT_FALSE(Has(refused.r.out, "Programming...")) << refused.r.out;

  const Timed forced = Program(sim.path(), {"--force", SamplePath("fennwick-other.s19")});
  EXPECT_EQ(forced.r.exitCode, 0) << forced.r.err;
  ASSERT_TRUE(WaitForFile(dump, 0x20000, 5000));
  EXPECT_EQ(ReadFile(dump), ReadFile(SamplePath("fennwick-other.bin")));

  std::string simErr;
  sim.Stop(&simErr);
  // One IAP session, the forced one: a refused run that had asked for IAP would have left
  // the simulator in IAP mode when it hung up.
  EXPECT_FALSE(Has(simErr, "peer hung up during IAP")) << simErr;
  const size_t first = simErr.find("IAP session ended");
  EXPECT_NE(first, std::string::npos) << simErr;
  EXPECT_EQ(simErr.find("IAP session ended", first + 1), std::string::npos) << simErr;
}

}  // namespace

}  // namespace fennwick
