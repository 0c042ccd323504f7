#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "sim/atomic_file.hpp"
#include "sim/line_timer.hpp"
#include "sim_test_support.hpp"

namespace fennwick::sim::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::nanoseconds;

const TimePoint t0 = TimePoint{} + std::chrono::seconds(5);

TEST(LineTimer, BytesTakeTenBitTimesBackToBack) {
  LineTimer line(19200);
  const nanoseconds byte = line.byteTime();
  EXPECT_EQ(byte, nanoseconds(520833));
  // A burst read at once arrives one byte time apart.
  EXPECT_EQ(line.next(t0), t0 + byte);
  EXPECT_EQ(line.next(t0), t0 + 2 * byte);
  EXPECT_EQ(line.next(t0 + byte), t0 + 3 * byte);
  // An idle line gives no credit: a later byte starts when it is there.
  EXPECT_EQ(line.next(t0 + std::chrono::seconds(1)), t0 + std::chrono::seconds(1) + byte);
  // 1,000 bytes at 19200 baud take 520.8 ms, whatever the caller's lateness.
  LineTimer tx(19200);
  TimePoint last{};
  for (int i = 0; i < 1000; ++i) last = tx.next(t0);
  const double total_ms = std::chrono::duration<double, std::milli>(last - t0).count();
  EXPECT_NEAR(total_ms, 520.833, 0.01);

  LineTimer none(0);
  EXPECT_EQ(none.next(t0), t0);
  EXPECT_EQ(none.next(t0), t0);
}

class AtomicFile : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string name = (fs::temp_directory_path() / "fennwick-sim-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(name.data()), nullptr);
    dir_ = name;
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

Bytes readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(AtomicFile, WritesAndReplacesWithoutLeftovers) {
  const fs::path file = dir_ / "flash.bin";
  EXPECT_EQ(checkWritableBeside(file.string()), "");
  EXPECT_EQ(writeFileAtomically(file.string(), Bytes(kFlashSize, 0xab)), "");
  EXPECT_EQ(readAll(file), Bytes(kFlashSize, 0xab));
  EXPECT_EQ(writeFileAtomically(file.string(), bytes("new")), "");
  EXPECT_EQ(readAll(file), bytes("new"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(AtomicFile, ReportsWhatCannotBeWritten) {
  const fs::path missing = dir_ / "no-such-dir" / "flash.bin";
  EXPECT_NE(checkWritableBeside(missing.string()), "");
  EXPECT_NE(writeFileAtomically(missing.string(), bytes("x")), "");
  EXPECT_NE(checkWritableBeside(dir_.string()), "");
  // Renaming onto a directory fails; the directory and no temp file remain.
  fs::create_directory(dir_ / "taken");
  EXPECT_NE(writeFileAtomically((dir_ / "taken").string(), bytes("x")), "");
  EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace fennwick::sim::testing
