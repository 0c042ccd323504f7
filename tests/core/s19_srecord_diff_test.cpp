// LoadS19Image against an independent S-record tool: random images written as S19 by
// srec_cat, loaded by us, and compared with the binary srec_cat makes of the same file.
#include <gtest/gtest.h>

#include "fakes/srec_cat_fixture.h"
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "firmware/s19_loader.h"
#include "platform/file.h"
#include "platform/text.h"

namespace fennwick {

namespace {

namespace fs = std::filesystem;

struct Piece {
  uint32_t address;  // MCU address
  size_t size;
};

struct DiffCase {
  const char* name;
  int addressLength;  // 2: S1, 3: S2
  int recordBytes;
  bool crlf;
  std::vector<Piece> pieces;
  bool startAddress;  // adds an S8/S9 end record
  uint32_t seed;
};

class S19AgainstSrecCat : public SrecCatFixture<::testing::TestWithParam<DiffCase>> {
 protected:
  static void Spit(const fs::path& p, const std::vector<uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
};

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

TEST_P(S19AgainstSrecCat, ImagesAgree) {
  const DiffCase& c = GetParam();
  std::mt19937 rng(c.seed);
  std::vector<uint8_t> expected(kImageSize, 0);

  std::string inputs;
  for (size_t i = 0; i < c.pieces.size(); ++i) {
    const Piece& piece = c.pieces[i];
    std::vector<uint8_t> bytes(piece.size);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    // Runs of zeros and of line-end byte values inside the data as well.
    for (size_t k = 0; k + 40 < bytes.size(); k += 997) {
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(k), 20, 0);
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(k + 20), 10, 0x0A);
      std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(k + 30), 10, 0x0D);
    }
    std::copy(bytes.begin(), bytes.end(), expected.begin() + (piece.address - kFlashBase));
    const std::string name = "piece" + std::to_string(i) + ".bin";
    Spit(dir_ / name, bytes);
    inputs += " " + name + " -binary -offset " + Hex(piece.address);
  }
  std::string write = "srec_cat" + inputs;
  if (c.startAddress) write += " -execution-start-address=0x8000";
  write += " -o fw.s19 -motorola -address-length=" + std::to_string(c.addressLength) +
           " -obs=" + std::to_string(c.recordBytes) + " -line-termination=" + (c.crlf ? "crlf" : "nl");
  ASSERT_NO_FATAL_FAILURE(Run(write));
  ASSERT_NO_FATAL_FAILURE(Run(
      "srec_cat fw.s19 -motorola -crop 0x8000 0x28000 -fill 0x00 0x8000 0x28000 -offset -0x8000 "
      "-o fw.img -binary"));

  // The file is what the case asks for.
  const std::string s19 = Slurp(dir_ / "fw.s19");
  ASSERT_EQ(s19.find("\r\n") != std::string::npos, c.crlf);
  ASSERT_NE(s19.find(c.addressLength == 2 ? "\nS1" : "\nS2"), std::string::npos);
  if (c.startAddress) {
    ASSERT_NE(s19.find(c.addressLength == 2 ? "\nS9" : "\nS8"), std::string::npos);
  }

  const std::string referenceText = Slurp(dir_ / "fw.img");
  const std::vector<uint8_t> reference(referenceText.begin(), referenceText.end());
  ASSERT_EQ(reference.size(), kImageSize);
  ASSERT_TRUE(std::equal(expected.begin(), expected.end(), reference.begin())) << "srec_cat disagrees with itself";

  std::u16string path;
  ASSERT_TRUE(Utf8ToUtf16((dir_ / "fw.s19").string(), path));
  std::unique_ptr<IFile> file = DefaultFileSystem().OpenRead(path);
  ASSERT_TRUE(file);
  std::vector<uint8_t> image(kImageSize, 0xEE);
  std::vector<uint8_t> packet(kPacketBufferSize, 0);
  const LoadStats stats = LoadS19Image(*file, image.data(), packet.data());
  EXPECT_FALSE(stats.readError);
  EXPECT_EQ(stats.outOfRangeBytes, 0u);
  EXPECT_EQ(stats.overlongLines, 0u);
  size_t first = kImageSize;
  for (size_t k = 0; k < kImageSize; ++k) {
    if (image[k] != reference[k]) {
      first = k;
      break;
    }
  }
  EXPECT_EQ(first, kImageSize) << "first difference at MCU address " << Hex(static_cast<uint32_t>(first + kFlashBase));
}

INSTANTIATE_TEST_SUITE_P(
    S19Loader, S19AgainstSrecCat,
    ::testing::Values(
        // S1 records reach 0xFFFF only.
        DiffCase{"S1By16Lf", 2, 16, false, {{0x8000, 0x8000}}, false, 1},
        DiffCase{"S1By32CrLf", 2, 32, true, {{0x8000, 0x8000}}, true, 2},
        DiffCase{"S1GapsCrLf", 2, 16, true, {{0x8003, 200}, {0x8100, 64}, {0xC001, 5000}, {0xFFF0, 16}}, false, 3},
        DiffCase{"S2By16CrLf", 3, 16, true, {{0x8000, 0x20000}}, false, 4},
        DiffCase{"S2By32Lf", 3, 32, false, {{0x8000, 0x20000}}, true, 5},
        DiffCase{"S2GapsLf", 3, 32, false, {{0x8000, 100}, {0xFFF5, 40}, {0x1C001, 3333}, {0x27FF0, 16}}, true, 6},
        DiffCase{"S2Sparse16CrLf", 3, 16, true, {{0x12345, 10000}, {0x20000, 77}}, false, 7}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace fennwick
