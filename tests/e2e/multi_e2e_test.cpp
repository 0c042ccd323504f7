// Several boards in one command, each on its own simulator.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/process.h"

namespace fennwick {

namespace {

// One board refuses IAP and one drops a block reply (a silence of --block-timeout), the
// other two must be flashed all the same, and the command must fail.
TEST(CliManyBoards, FaultyBoardsFailAndTheOthersAreFlashed) {
  TempDir dir;
  const std::vector<std::vector<std::string>> faults = {{}, {"--refuse-iap"}, {"--drop-reply", "700"}, {}};
  std::vector<std::unique_ptr<Simulator>> sims;
  std::vector<std::string> args = {BinPath("fennwick-cli")};
  for (size_t i = 0; i < faults.size(); ++i) {
    std::vector<std::string> simArgs = {"--baud", "0", "--flash-ms", "0", "--dump",
                                        dir.path + "/flash" + std::to_string(i) + ".bin"};
    simArgs.insert(simArgs.end(), faults[i].begin(), faults[i].end());
    sims.push_back(std::make_unique<Simulator>(simArgs));
    args.insert(args.end(), {"--port", sims.back()->path()});
  }
  args.insert(args.end(), {"--log-file", dir.path + "/runs.log", "program", "--block-timeout", "1000",
                           SamplePath("fennwick-sample.s19")});
  const RunResult r = RunProgram(args, 120);

  EXPECT_NE(r.exitCode, 0);
  const std::string image = ReadFile(SamplePath("fennwick-sample.bin"));
  for (size_t i : {0u, 3u}) {
    ASSERT_TRUE(WaitForFile(dir.path + "/flash" + std::to_string(i) + ".bin", 0x20000, 5000)) << i;
    EXPECT_EQ(ReadFile(dir.path + "/flash" + std::to_string(i) + ".bin"), image) << i;
  }
  // Every log line names its port.
  EXPECT_NE(r.out.find("[" + sims[1]->path() + "] Current MCU don't support IAP feature!\n"), std::string::npos)
      << r.out;
  // The time-out continues the "MCU: " line of its own board.
  const size_t dots = r.out.find("[" + sims[2]->path() + "] MCU: ");
  ASSERT_NE(dots, std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Response time out\n", dots) + 17, r.out.find('\n', dots)) << r.out;
  // The closing table: one row per port with its result.
  EXPECT_NE(r.out.find("IAP refused"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("1 reply timed out"), std::string::npos) << r.out;
  const std::string log = ReadFile(dir.path + "/runs.log");
  for (const auto& sim : sims) EXPECT_NE(log.find(" \"" + sim->path() + "\": \"program "), std::string::npos) << log;
  EXPECT_NE(log.find("result: programmed (exit 0,"), std::string::npos);
  EXPECT_NE(log.find("result: IAP refused (exit 8,"), std::string::npos);
}

// Whatever the MCUs' versions hold (a long text, a tab, a line end), the closing table keeps
// one line per board and its columns.
TEST(CliManyBoards, AllGoodBoardsExitZeroAndTheTableKeepsItsColumns) {
  std::vector<std::unique_ptr<Simulator>> sims;
  std::vector<std::string> args = {BinPath("fennwick-cli")};
  for (const std::string& reply : {"$R:01FNW-107 " + std::string(150, 'X') + "\\r\\n", std::string("$R:01A\\tB\\rC\\r\\n")}) {
    sims.push_back(std::make_unique<Simulator>(std::vector<std::string>{"--baud", "0", "--version-reply", reply}));
    args.insert(args.end(), {"--port", sims.back()->path()});
  }
  args.push_back("identify");
  const RunResult r = RunProgram(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const size_t head = r.out.find("\nport ");
  ASSERT_NE(head, std::string::npos) << r.out;
  const size_t resultColumn = r.out.find("result", head) - head - 1;
  size_t at = r.out.find('\n', head + 1) + 1;
  for (const auto& sim : sims) {
    const size_t end = r.out.find('\n', at);
    const std::string row = r.out.substr(at, end - at);
    EXPECT_EQ(row.rfind(sim->path(), 0), 0u) << r.out;
    EXPECT_EQ(row.find("  ok  "), resultColumn - 2) << r.out;
    at = end + 1;
  }
  EXPECT_NE(r.out.find("FNW-107 " + std::string(29, 'X') + "...  "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("A\\tB\\nC "), std::string::npos) << r.out;
}

}  // namespace

}  // namespace fennwick
