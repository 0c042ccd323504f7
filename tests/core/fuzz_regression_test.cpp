// Replays the inputs kept for the fuzz targets through the targets' own checks: the seed
// corpus and every input that once found a fault (fuzz/regressions/<target>/).
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>

namespace fennwick {

namespace {
struct FuzzRuleBroken : std::runtime_error {
  using std::runtime_error::runtime_error;
};
}  // namespace
}  // namespace fennwick

// The targets open the namespace themselves.
#define FUZZ_REPORT(text) throw FuzzRuleBroken(text)
#define FENNWICK_FUZZ_NO_MAIN
#include "../../fuzz/fuzz_check.cpp"
#include "../../fuzz/fuzz_examine.cpp"
#include "../../fuzz/fuzz_read_reply.cpp"
#include "../../fuzz/fuzz_s19_loader.cpp"
#include "fakes/temp_dir.h"

namespace fennwick {
namespace {

namespace fs = std::filesystem;

struct Target {
  const char* name;
  int (*run)(const uint8_t*, size_t);
};

const Target kTargets[] = {
    {"s19_loader", FuzzS19Loader},
    {"examine", FuzzExamine},
    {"check", FuzzCheck},
    {"read_reply", FuzzReadReply},
};

class FuzzInputs : public testing::TestWithParam<Target> {};

TEST_P(FuzzInputs, KeptInputsKeepEveryRule) {
  const Target& t = GetParam();
  size_t replayed = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(FENNWICK_SOURCE_DIR) / "fuzz" / kind / t.name;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (!entry.is_regular_file()) continue;
      const std::string bytes = ReadFile(entry.path().string());
      try {
        t.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      } catch (const FuzzRuleBroken& e) {
        ADD_FAILURE() << entry.path().filename() << ": " << e.what();
      }
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u) << "no seed corpus for " << t.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzInputs, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<Target>& info) { return std::string(info.param.name); });

// A file shorter than its length said when it was opened (it shrank under us): what the
// format detection already read is still the whole file.
TEST(CheckFirmwareHostile, FileThatShrankAfterItsLengthWasTakenIsReadToItsEnd) {
  const std::string text = "S1078000AABBCCDD6A\r\nS9030000FC\r\n";
  MemoryFile file(text, -1, static_cast<int64_t>(text.size()) + 100);
  const FirmwareReport r = CheckFirmware(file);
  EXPECT_EQ(r.format, FirmwareFormat::S19);
  EXPECT_EQ(r.lineCount, 2);
  ASSERT_EQ(r.image.size(), kImageSize);
  EXPECT_EQ(r.image[0], 0xAA);
  EXPECT_EQ(r.image[3], 0xDD);
  EXPECT_EQ(r.ranges, (std::vector<DataRange>{{0x8000, 0x8003}}));
}

}  // namespace

}  // namespace fennwick
