#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "fakes/temp_dir.h"
#include "sim/atomic_file.h"
#include "sim/line_timer.h"
#include "sim_test_support.h"

namespace fennwick::sim::testing {
namespace {

namespace fs = std::filesystem;
using std::chrono::nanoseconds;

const TimePoint kT0 = TimePoint{} + std::chrono::seconds(5);

TEST(LineTimer, BytesTakeTenBitTimesBackToBack) {
  LineTimer line(19200);
  const nanoseconds byte = line.ByteTime();
  EXPECT_EQ(byte, nanoseconds(520833));
  // A burst read at once arrives one byte time apart.
  EXPECT_EQ(line.Next(kT0), kT0 + byte);
  EXPECT_EQ(line.Next(kT0), kT0 + 2 * byte);
  EXPECT_EQ(line.Next(kT0 + byte), kT0 + 3 * byte);
  // An idle line gives no credit: a later byte starts when it is there.
  EXPECT_EQ(line.Next(kT0 + std::chrono::seconds(1)), kT0 + std::chrono::seconds(1) + byte);
  // 1,000 bytes at 19200 baud take 520.8 ms, whatever the caller's lateness.
  LineTimer tx(19200);
  TimePoint last{};
  for (int i = 0; i < 1000; ++i) last = tx.Next(kT0);
  const double totalMs = std::chrono::duration<double, std::milli>(last - kT0).count();
  EXPECT_NEAR(totalMs, 520.833, 0.01);

  LineTimer none(0);
  EXPECT_EQ(none.Next(kT0), kT0);
  EXPECT_EQ(none.Next(kT0), kT0);
}

class AtomicFile : public ::testing::Test {
 protected:
  TempDir tmp_;
  const fs::path dir_{tmp_.path};
};

Bytes ReadAll(const fs::path& path) { return BytesOf(ReadFile(path.string())); }

TEST_F(AtomicFile, WritesAndReplacesWithoutLeftovers) {
  const fs::path file = dir_ / "flash.bin";
  EXPECT_EQ(CheckWritableBeside(file.string()), "");
  EXPECT_EQ(WriteFileAtomically(file.string(), Bytes(kFlashSize, 0xab)), "");
  EXPECT_EQ(ReadAll(file), Bytes(kFlashSize, 0xab));
  EXPECT_EQ(WriteFileAtomically(file.string(), BytesOf("new")), "");
  EXPECT_EQ(ReadAll(file), BytesOf("new"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(AtomicFile, ReportsWhatCannotBeWritten) {
  const fs::path missing = dir_ / "no-such-dir" / "flash.bin";
  EXPECT_NE(CheckWritableBeside(missing.string()), "");
  EXPECT_NE(WriteFileAtomically(missing.string(), BytesOf("x")), "");
  EXPECT_NE(CheckWritableBeside(dir_.string()), "");
  // Renaming onto a directory fails; the directory and no temp file remain.
  fs::create_directory(dir_ / "taken");
  EXPECT_NE(WriteFileAtomically((dir_ / "taken").string(), BytesOf("x")), "");
  EXPECT_TRUE(fs::is_directory(dir_ / "taken"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace fennwick::sim::testing
