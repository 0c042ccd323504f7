// fennwick-cli against fennwick-mcu-sim over a pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "fakes/process.h"

namespace fennwick {

namespace {

const std::string kIdentified =
    "========Current MCU Information========\n"
    "Version: FNW-107 Fennwick simulated MCU\n"
    "Fennwick MCU simulator, 128 KiB flash at 0x8000\n";

RunResult Cli(const std::string& port, std::vector<std::string> args, int timeoutSec = 60) {
  args.insert(args.begin(), {BinPath("fennwick-cli"), "--port", port});
  return RunProgram(args, timeoutSec);
}

TEST(CliIdentify, AnsweringMcuPrintsTheLogTextExactly) {
  Simulator sim({"--baud", "0"});
  const RunResult r = Cli(sim.path(), {"identify"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kIdentified);
}

TEST(CliIdentify, CustomRepliesPassEightBitBytesUntouchedWhenRaw) {
  Simulator sim({"--baud", "0", "--version", "$R:01AB\\xE9CD\\r\\n", "--no-description"});
  const RunResult r = Cli(sim.path(), {"identify", "--raw"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "========Current MCU Information========\r\nVersion: AB\xE9" "CD\r\nNo description.\r\n");
}

// The one test that waits out real query silences (two of 5,000 ms, both commands at once);
// the core's tests cover every other silence in virtual time. `program` asks for nothing more
// of a silent MCU.
TEST(CliIdentify, SilentMcuPrintsBothTimeOutsAndFailsAndProgramSendsNothingMore) {
  Simulator identifySim({"--baud", "0", "--silent"});
  Simulator programSim({"--baud", "0", "--silent"});
  RunResult program;
  std::thread programming([&] { program = Cli(programSim.path(), {"program", SamplePath("fennwick-sample.s19")}); });
  const auto start = std::chrono::steady_clock::now();
  const RunResult identify = Cli(identifySim.path(), {"identify"});
  programming.join();
  const std::string timedOut =
      "Response time out\n========Current MCU Information========\nVersion: Response time out\n";
  for (const RunResult* r : {&identify, static_cast<const RunResult*>(&program)}) {
    EXPECT_EQ(r->exitCode, 4) << r->err;
    EXPECT_TRUE(r->out.starts_with(timedOut)) << r->out;
    EXPECT_NE(r->err.find("MCU silent"), std::string::npos) << r->err;
  }
  EXPECT_NE(program.err.find("nothing was sent"), std::string::npos) << program.err;
  EXPECT_EQ(program.out.find("Programming..."), std::string::npos) << program.out;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(13));
}

TEST(CliIdentify, MissingPortIsExplained) {
  TempDir dir;
  const RunResult r = Cli(dir.path + "/no-such-port", {"identify"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_EQ(r.out, "Open MCU COM port Error!!!\n");
  EXPECT_NE(r.err.find("no such device"), std::string::npos) << r.err;
}

TEST(CliIdentify, RegularFileIsNotASerialDevice) {
  const RunResult r = Cli(SamplePath("fennwick-sample.s19"), {"identify"});
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("not a serial device"), std::string::npos) << r.err;
}

TEST(CliIdentify, SecondProgramOnTheSamePortIsToldItIsBusy) {
  // At 300 bit/s the replies take about 3 s: the first holds the port that long, and the
  // second must not get it.
  Simulator sim({"--baud", "300"});
  const std::string port = sim.path();
  RunResult first;
  std::thread holder([&] { first = Cli(port, {"identify"}); });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const RunResult second = Cli(port, {"identify"});
  holder.join();
  EXPECT_EQ(second.exitCode, 3);
  EXPECT_NE(second.err.find("busy"), std::string::npos) << second.err;
  EXPECT_EQ(first.exitCode, 0) << first.err;
}

TEST(CliExamine, SuitableUnsuitableAndMissingFiles) {
  Simulator sim({"--baud", "0"});
  const RunResult good = Cli(sim.path(), {"examine", SamplePath("fennwick-sample.s19")});
  EXPECT_EQ(good.exitCode, 0) << good.err;
  EXPECT_EQ(good.out, kIdentified +
                          "\nReading file information....\n-----Selected S19 File Desc-----\n"
                          "Version: $FNWK-107 Fennwick sample firmware for the simulated MCU\n"
                          "Please click \"Start\" to update current MCU.\n");

  const RunResult other = Cli(sim.path(), {"examine", SamplePath("fennwick-other.s19")});
  EXPECT_EQ(other.exitCode, 5);
  EXPECT_EQ(other.out, kIdentified +
                           "\nReading file information....\n-----Selected S19 File Desc-----\n"
                           "Version: $FNWK-208 Fennwick other board firmware for the simulated MCU\n"
                           "!!!!!WARNNING!!!!!\nThe file you select is NOT suitable for current unit! "
                           "Please confirm it before click \"Start\".\n");

  const RunResult missing = Cli(sim.path(), {"examine", "/nonexistent/fw.s19"});
  EXPECT_EQ(missing.exitCode, 7);
  EXPECT_EQ(missing.out, "");  // the file is read before the port is touched
}

TEST(CliExamine, OfflineFileWithoutDescription) {
  TempDir dir;
  const std::string file = dir.path + "/plain.s19";
  ASSERT_EQ(std::system(("printf 'S1078000AABBCCDD6A\\n' > " + file).c_str()), 0);
  const RunResult r = RunProgram({BinPath("fennwick-cli"), "examine", "--offline", "--mcu-version", "$R:x", file});
  EXPECT_EQ(r.exitCode, 6);
  EXPECT_EQ(r.out, "\nReading file information....\nThis file has no description.\n");
}

TEST(CliProgram, FlashesTheSampleSoThatTheDumpEqualsTheImage) {
  TempDir dir;
  Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", dir.path + "/flash.bin"});
  const RunResult r = Cli(sim.path(), {"program", SamplePath("fennwick-sample.s19")}, 120);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, kIdentified + "Programming...\nMCU: " + std::string(64, '.') + "\n");
  EXPECT_NE(r.err.find("Done: programmed 1024 blocks, every one accepted."), std::string::npos) << r.err;
  ASSERT_TRUE(WaitForFile(dir.path + "/flash.bin", 0x20000, 5000));
  EXPECT_EQ(ReadFile(dir.path + "/flash.bin"), ReadFile(SamplePath("fennwick-sample.bin")));
}

TEST(CliProgram, FlashesAFileWrittenBySrecCat) {
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "srec_cat missing";
  TempDir dir;
  const std::string s19 = dir.path + "/fw.s19";
  ASSERT_EQ(std::system(("srec_cat " + SamplePath("fennwick-other.bin") + " -binary -offset 0x8000 -o " + s19 +
                         " -motorola -address-length=3 -obs=16")
                            .c_str()),
            0);
  Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", dir.path + "/flash.bin"});
  // Its description lies in S2 records, where the examination does not look.
  const RunResult refused = Cli(sim.path(), {"program", s19});
  EXPECT_EQ(refused.exitCode, 6) << refused.err;
  const RunResult r = Cli(sim.path(), {"program", "--force", s19}, 120);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(WaitForFile(dir.path + "/flash.bin", 0x20000, 5000));
  EXPECT_EQ(ReadFile(dir.path + "/flash.bin"), ReadFile(SamplePath("fennwick-other.bin")));
}

TEST(CliProgram, RefusalExitsNonZeroAndSendsNoBlock) {
  Simulator sim({"--baud", "0", "--refuse-iap"});
  const RunResult r = Cli(sim.path(), {"program", SamplePath("fennwick-sample.s19")});
  EXPECT_EQ(r.exitCode, 8);
  EXPECT_EQ(r.out, kIdentified + "Current MCU don't support IAP feature!\n");
  EXPECT_NE(r.err.find("refused"), std::string::npos) << r.err;
}

TEST(CliProgram, PortVanishingMidRunEndsTheRunQuickly) {
  Simulator sim({"--baud", "0", "--flash-ms", "0", "--hangup-after", "100"});
  const auto start = std::chrono::steady_clock::now();
  const RunResult r = Cli(sim.path(), {"program", SamplePath("fennwick-sample.s19")});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exitCode, 10) << r.out << r.err;
  EXPECT_NE(r.out.find("COM port lost!"), std::string::npos) << r.out;
  EXPECT_LT(took, std::chrono::seconds(20));
}

TEST(CliProgram, MissingFileIsReportedBeforeAnythingIsSent) {
  Simulator sim({"--baud", "0"});
  const RunResult r = Cli(sim.path(), {"program", "/nonexistent/fw.s19"});
  EXPECT_EQ(r.exitCode, 7);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("No such file"), std::string::npos) << r.err;
}

TEST(CliProgram, FlashesIntelHexWithoutConversion) {
  if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "srec_cat missing";
  TempDir dir;
  const std::string hex = dir.path + "/fw.ihx";
  ASSERT_EQ(std::system(("srec_cat " + SamplePath("fennwick-sample.bin") + " -binary -offset 0x8000 -o " + hex +
                         " -intel -address-length=4 -obs=16")
                            .c_str()),
            0);
  Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", dir.path + "/flash.bin"});
  const RunResult r = Cli(sim.path(), {"program", hex}, 120);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  ASSERT_TRUE(WaitForFile(dir.path + "/flash.bin", 0x20000, 5000));
  EXPECT_EQ(ReadFile(dir.path + "/flash.bin"), ReadFile(SamplePath("fennwick-sample.bin")));

  const RunResult examined = Cli(sim.path(), {"examine", hex});
  EXPECT_EQ(examined.exitCode, 0) << examined.err;
  EXPECT_NE(examined.out.find("Version: $FNWK-107 Fennwick sample firmware for the simulated MCU\n"
                              "Please click \"Start\" to update current MCU."),
            std::string::npos)
      << examined.out;
}

TEST(CliProgram, FileWithProblemsIsRefusedUnlessForced) {
  TempDir dir;
  const std::string file = dir.path + "/bad.s19";
  // A wrong checksum: the strict check refuses it; the device's own reader would take it.
  ASSERT_EQ(std::system(("printf 'S1078000AABBCCDD00\\r\\n' > " + file).c_str()), 0);
  const RunResult checked = RunProgram({BinPath("fennwick-cli"), "check", file});
  EXPECT_EQ(checked.exitCode, 11);
  EXPECT_NE(checked.out.find("line 1: "), std::string::npos) << checked.out;

  TempDir out;
  Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", out.path + "/flash.bin"});
  const RunResult refused = Cli(sim.path(), {"program", file});
  EXPECT_EQ(refused.exitCode, 11);
  EXPECT_EQ(refused.out, "");
  const RunResult forced = Cli(sim.path(), {"program", "--force", file}, 120);
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  ASSERT_TRUE(WaitForFile(out.path + "/flash.bin", 0x20000, 5000));
  EXPECT_EQ(ReadFile(out.path + "/flash.bin").substr(0, 5), std::string("\xAA\xBB\xCC\xDD\x00", 5));
}

TEST(CliUsage, WrongArgumentsExitTwo) {
  EXPECT_EQ(RunProgram({BinPath("fennwick-cli")}).exitCode, 2);
  EXPECT_EQ(RunProgram({BinPath("fennwick-cli"), "program"}).exitCode, 2);
  EXPECT_EQ(RunProgram({BinPath("fennwick-cli"), "frobnicate"}).exitCode, 2);
  const RunResult help = RunProgram({BinPath("fennwick-cli"), "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--port"), std::string::npos);
}

}  // namespace

}  // namespace fennwick
