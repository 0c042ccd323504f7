#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "fakes/fake_files.h"
#include "firmware/s19_loader.h"
#include "srec_text.h"

namespace fennwick {

namespace {

constexpr size_t kGuard = 4096;
constexpr uint8_t kCanary = 0xA5;

// The image and the line buffer, each between guard areas that must stay untouched.
struct Loaded {
  std::vector<uint8_t> imageArea = std::vector<uint8_t>(kImageSize + 2 * kGuard, kCanary);
  std::vector<uint8_t> packetArea = std::vector<uint8_t>(kPacketBufferSize + 2 * kGuard, kCanary);
  LoadStats stats;

  Loaded() { std::fill_n(packetArea.begin() + kGuard, kPacketBufferSize, 0); }
  uint8_t* image() { return imageArea.data() + kGuard; }
  uint8_t* packet() { return packetArea.data() + kGuard; }
  uint8_t at(uint32_t mcuAddress) { return image()[mcuAddress - kFlashBase]; }
  bool GuardsIntact() const {
    auto intact = [](const std::vector<uint8_t>& area, size_t size) {
      return std::all_of(area.begin(), area.begin() + kGuard, [](uint8_t b) { return b == kCanary; }) &&
             std::all_of(area.begin() + static_cast<std::ptrdiff_t>(kGuard + size), area.end(),
                         [](uint8_t b) { return b == kCanary; });
    };
    return intact(imageArea, kImageSize) && intact(packetArea, kPacketBufferSize);
  }
};

void LoadInto(Loaded& out, IFile& file) {
  out.stats = LoadS19Image(file, out.image(), out.packet());
  ASSERT_TRUE(out.GuardsIntact()) << "written outside the image or the line buffer";
}

void LoadText(Loaded& out, const std::string& text, int64_t failAt = -1) {
  MemoryFile file(text, failAt);
  LoadInto(out, file);
}

// Bytes expected at MCU addresses; every other image byte must be zero.
using Writes = std::map<uint32_t, std::vector<uint8_t>>;

void ExpectImage(Loaded& loaded, const Writes& writes) {
  std::vector<uint8_t> expected(kImageSize, 0);
  for (const auto& [address, bytes] : writes) {
    for (size_t i = 0; i < bytes.size(); ++i) expected[address - kFlashBase + i] = bytes[i];
  }
  size_t mismatches = 0;
  for (size_t k = 0; k < kImageSize && mismatches < 8; ++k) {
    if (loaded.image()[k] != expected[k]) {
      ++mismatches;
      ADD_FAILURE() << "image byte 0x" << std::hex << k << " (MCU 0x" << k + kFlashBase << ") is 0x"
                    << int(loaded.image()[k]) << ", expected 0x" << int(expected[k]);
    }
  }
}

// An S1 record of four bytes at 0x8000, and its bytes.
const std::string kFourByteLine = "S1078000AABBCCDD6A";
const std::vector<uint8_t> kFourBytes = {0xAA, 0xBB, 0xCC, 0xDD};

// Digits and both cases of letters; any other byte gives its fixed value, which a file with
// a stray character turns into image bytes.
TEST(HexNibble, HexDigitsAndTheFixedValueOfEveryOtherByte) {
  const std::pair<uint8_t, uint8_t> named[] = {{'0', 0},    {'9', 9},    {'A', 10},   {'F', 15},   {'a', 10},
                                               {'f', 15},   {':', 0x0A}, {'@', 0x10}, {'G', 0x17}, {'`', 0x30},
                                               {'g', 0x37}, {' ', 0xF0}, {0x80, 0x50}, {0xFF, 0xCF}, {0x00, 0xD0}};
  for (const auto& [c, v] : named) EXPECT_EQ(HexNibble(c), v) << "char " << int(c);
  // Signed or unsigned, a char gives the same.
  EXPECT_EQ(HexNibble(static_cast<uint8_t>(static_cast<char>(-128))), 0x50);
}

struct LoaderCase {
  const char* name;
  std::string file;
  Writes writes;
  uint64_t outOfRange = 0;
  uint32_t overlong = 0;
};

class LoaderCases : public ::testing::TestWithParam<LoaderCase> {};

TEST_P(LoaderCases, FillTheImage) {
  const LoaderCase& c = GetParam();
  Loaded loaded;
  ASSERT_NO_FATAL_FAILURE(LoadText(loaded, c.file));
  ExpectImage(loaded, c.writes);
  EXPECT_EQ(loaded.stats.outOfRangeBytes, c.outOfRange);
  EXPECT_EQ(loaded.stats.overlongLines, c.overlong);
  EXPECT_FALSE(loaded.stats.readError);
}

std::vector<uint8_t> Counting(size_t n, uint8_t first = 1) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i);
  return v;
}

std::string Padded(const std::string& line, size_t length) { return line + std::string(length - line.size(), '0'); }

const LoaderCase kLoaderCases[] = {
    {"EmptyFile", "", {}},
    {"BlankLinesOnly", "\r\n\n\r\r\n", {}},
    {"FourBytesAt8000", kFourByteLine + "\n", {{0x8000, kFourBytes}}},
    {"NonHexPairs", "S1068000" "0G" "G0" "11" "FF\n", {{0x8000, {0x17, 0x70, 0x11}}}},
    {"SixteenBytesWrongChecksum", Record('1', 2, 0x8000, Counting(16), 0x00) + "\n", {{0x8000, Counting(16)}}},
    {"S2Address", S2(0x010000, {0x5A, 0xA5}) + "\n", {{0x10000, {0x5A, 0xA5}}}},
    {"S2TopOfFlash", S2(0x027FFC, {1, 2, 3, 4}) + "\n", {{0x27FFC, {1, 2, 3, 4}}}},
    {"LowerCaseHex", "s1078000aabbccdd6a\n", {{0x8000, kFourBytes}}},
    {"CrLf", kFourByteLine + "\r\n" + S1(0x9000, {7}) + "\r\n", {{0x8000, kFourBytes}, {0x9000, {7}}}},
    {"CrOnly", kFourByteLine + "\r" + S1(0x9000, {7}) + "\r", {{0x8000, kFourBytes}, {0x9000, {7}}}},
    {"MixedAndBlank", "\n\r\n" + kFourByteLine + "\r\r\n\n" + S1(0x9000, {7}) + "\n\r", {{0x8000, kFourBytes}, {0x9000, {7}}}},
    {"FinalLineWithoutLineEnd", kFourByteLine + "\n" + S1(0x9000, {7, 8}), {{0x8000, kFourBytes}, {0x9000, {7, 8}}}},
    {"AnyFirstCharacter", "X1078000AABBCCDD6A\n" + std::string("?") + S2(0x9000, {3}).substr(1) + "\n",
     {{0x8000, kFourBytes}, {0x9000, {3}}}},
    {"LaterRecordWins", kFourByteLine + "\n" + S1(0x8002, {0x11, 0x22, 0x33}) + "\n",
     {{0x8000, {0xAA, 0xBB, 0x11, 0x22, 0x33}}}},
    // The count, not the line, decides: the missing bytes are the line's own undecoded text.
    {"CountBeyondTheLine", "S1088000AABB\n", {{0x8000, {0xAA, '8', '0', '0', '0'}}}},
    {"SkippedTypes", "S0078000AABBCCDD6A\nS7078000AABBCCDD6A\nS8078000AABBCCDD6A\nS9078000AABBCCDD6A\n", {}},
    {"UnsupportedTypesChangeNothing",
     kFourByteLine + "\nS4079000AABBCCDD6A\nS6079000AABBCCDD6A\nSX079000AABBCCDD6A\nSS079000AABBCCDD6A\n",
     {{0x8000, kFourBytes}}},
    {"S5AfterDataChangesNothing", kFourByteLine + "\nS5030001FB\n" + S2(0x9000, {9}) + "\nS5030002FA\n",
     {{0x8000, kFourBytes}, {0x9000, {9}}}},
    {"S5BeforeAnyDataChangesNothing", "S5078000AABBCCDD6A\n", {}},
    // A record count carrying more than its count is applied with the address length in force.
    {"S5AppliedWithLastAddressLength", S1(0x9000, {1}) + "\nS5078000AABBCCDD6A\n",
     {{0x8000, kFourBytes}, {0x9000, {1}}}},
    {"S3FourByteAddress", S3(0x00008000, {0x11, 0x22, 0x33, 0x44}) + "\n" + S3(0x00027FFF, {0x55}) + "\n",
     {{0x8000, {0x11, 0x22, 0x33, 0x44}}, {0x27FFF, {0x55}}}},
    {"S3HighAddressOutOfRange", S3(0x01008000, {1, 2, 3, 4}) + "\n", {}, 4},
    {"AddressLengthCarriesOver", S3(0x00008000, {1}) + "\nS5030001FB\n" + S1(0x8001, {2}) + "\n",
     {{0x8000, {1, 2}}}},
    {"BelowTheFlash", S1(0x7FFE, {1, 2, 3, 4}) + "\n", {{0x8000, {3, 4}}}, 2},
    {"PastTheFlash", S2(0x027FFE, {1, 2, 3, 4}) + "\n", {{0x27FFE, {1, 2}}}, 2},
    {"FarOutside", S1(0x0000, Counting(32)) + "\n" + S2(0xFFFF00, Counting(200)) + "\n", {}, 232},
    {"LongestLineFits", Padded(kFourByteLine, 1024) + "\n", {{0x8000, kFourBytes}}},
    {"OverlongLineNotApplied", Padded(kFourByteLine, 1025) + "\n" + S1(0x9000, {5}) + "\n", {{0x9000, {5}}}, 0, 1},
    {"OverlongFinalLine", S1(0x9000, {5}) + "\n" + Padded(kFourByteLine, 5000), {{0x9000, {5}}}, 0, 1},
    // Lines of 1 to 4 characters carry no count and address of their own.
    {"ShortLinesSkipped",
     kFourByteLine + "\nS\nS1\nS10\nS107\n2\nS2\nS20\nS208\nS3\nS30\nS309\nS5\nS503\n1\n11\n",
     {{0x8000, kFourBytes}}},
};

INSTANTIATE_TEST_SUITE_P(S19Loader, LoaderCases, ::testing::ValuesIn(kLoaderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(S19Loader, LineIsDecodedInPlaceAndTheRestOfItsTextStays) {
  Loaded loaded;
  ASSERT_NO_FATAL_FAILURE(LoadText(loaded, kFourByteLine + "\n"));
  const uint8_t decoded[] = {0x07, 0x80, 0x00, 0xAA, 0xBB, 0xCC, 0xDD};
  EXPECT_TRUE(std::equal(std::begin(decoded), std::end(decoded), loaded.packet()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(loaded.packet()) + 7, 11), "0AABBCCDD6A");
  EXPECT_EQ(loaded.packet()[18], 0) << "nothing past the line is touched";
}

TEST(S19Loader, BufferKeepsTheRemainsOfLongerEarlierLines) {
  const std::string longLine = S1(0x8100, Counting(16));  // 42 characters
  Loaded loaded;
  std::memset(loaded.packet() + 100, 0x77, 10);  // left by an earlier use
  ASSERT_NO_FATAL_FAILURE(LoadText(loaded, longLine + "\n" + kFourByteLine + "\r\n"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(loaded.packet()) + 19, 23), longLine.substr(19));
  EXPECT_EQ(loaded.packet()[18], 16) << "the long line's last decoded data byte";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(loaded.packet()) + 7, 11), "0AABBCCDD6A");
  EXPECT_EQ(loaded.packet()[100], 0x77) << "the buffer is never cleared";
}

TEST(S19Loader, ImageIsClearedBeforeLoading) {
  Loaded loaded;
  std::fill_n(loaded.image(), kImageSize, 0xEE);
  ASSERT_NO_FATAL_FAILURE(LoadText(loaded, kFourByteLine + "\n"));
  ExpectImage(loaded, {{0x8000, kFourBytes}});
}

TEST(S19Loader, ReadErrorIsReported) {
  for (int64_t failAt : {0, 5, 19, 25}) {
    SCOPED_TRACE(failAt);
    Loaded loaded;
    ASSERT_NO_FATAL_FAILURE(LoadText(loaded, kFourByteLine + "\n" + S1(0x9000, {1}) + "\n", failAt));
    EXPECT_TRUE(loaded.stats.readError);
  }
}

TEST(S19Loader, UnknownLengthIsAReadError) {
  Loaded loaded;
  MemoryFile file("", -1, -1);  // a length the system cannot tell
  ASSERT_NO_FATAL_FAILURE(LoadInto(loaded, file));
  EXPECT_TRUE(loaded.stats.readError);
  ExpectImage(loaded, {});
}

// The length taken at the start, a file that then ends early.
TEST(S19Loader, FileThatEndsEarlyLoadsWhatItHad) {
  Loaded loaded;
  const std::string text = kFourByteLine + "\n" + S1(0x9000, {1, 2});
  MemoryFile file(text, -1, static_cast<int64_t>(text.size()) + 500);
  ASSERT_NO_FATAL_FAILURE(LoadInto(loaded, file));
  EXPECT_FALSE(loaded.stats.readError);
  ExpectImage(loaded, {{0x8000, kFourBytes}, {0x9000, {1, 2}}});
}

TEST(S19Loader, OnlyTheAnnouncedLengthIsRead) {
  // Bytes past the length taken at the start are not read.
  class GrowingFile final : public IFile {
   public:
    int64_t Length() override { return 19; }
    int64_t Read(uint8_t* buf, size_t n) override {
      const std::string data = kFourByteLine + "\n" + S1(0x9000, {1}) + "\n";
      const size_t take = std::min(n, data.size() - pos_);
      std::memcpy(buf, data.data() + pos_, take);
      pos_ += take;
      return static_cast<int64_t>(take);
    }

   private:
    size_t pos_ = 0;
  };
  Loaded loaded;
  GrowingFile file;
  ASSERT_NO_FATAL_FAILURE(LoadInto(loaded, file));
  ExpectImage(loaded, {{0x8000, kFourBytes}});
}

// Hostile input: nothing may be written outside the image or the line buffer, nothing may
// crash, and the sanitizers watch every read.
TEST(S19LoaderHostile, RandomBytes) {
  std::mt19937 rng(1234);
  const std::string alphabet = "S0123456789ABCDEFabcdefGZ \t\r\n\r\n\xFF";
  for (int round = 0; round < 300; ++round) {
    std::string text(rng() % 4000, '\0');
    const bool binary = round % 2 == 0;
    for (char& ch : text) {
      ch = binary ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
    }
    Loaded loaded;
    ASSERT_NO_FATAL_FAILURE(LoadText(loaded, text)) << "round " << round;
  }
}

TEST(S19LoaderHostile, HugeCountsAndWildAddresses) {
  const std::string types = "0123456789XS\xFF";
  const char* counts[] = {"00", "01", "02", "03", "04", "05", "FE", "FF", "ZZ", "  ", "\xFF\xFF", "gg"};
  const char* addresses[] = {"0000", "7FFF", "8000", "FFFF", "00FFFF", "FFFFFF", "027FFF", "FFFFFFFF", "ZZZZZZZZ"};
  Loaded loaded;  // the loader clears the image itself
  for (char type : types) {
    for (const char* count : counts) {
      // One file of such lines, after lines of each address length, so that every length
      // in force meets every wild record.
      std::string file;
      size_t lines = 0;
      for (const char* address : addresses) {
        for (const std::string& before : {S1(0x8000, {1}), S2(0x8000, {2}), S3(0x8000, {3})}) {
          for (size_t tail : {0u, 1u, 7u, 600u}) {
            file += before + "\n" + std::string("S") + type + count + address + std::string(tail, 'F') + "\n";
            ++lines;
          }
        }
      }
      ASSERT_NO_FATAL_FAILURE(LoadText(loaded, file)) << type << count;
      // One record places at most 255 bytes anywhere.
      EXPECT_LE(loaded.stats.outOfRangeBytes, 255u * lines);
    }
  }
}

TEST(S19LoaderHostile, LinesOfEveryShortLengthAndAroundTheBufferSize) {
  for (char type : std::string("0123456789X")) {
    for (size_t length = 1; length <= 40; ++length) {
      std::string line = std::string("S") + type + std::string(40, 'F');
      line.resize(length);
      Loaded loaded;
      ASSERT_NO_FATAL_FAILURE(LoadText(loaded, S3(0x8000, Counting(8)) + "\n" + line + "\n" + line));
    }
    for (size_t length = 1018; length <= 1030; ++length) {
      Loaded loaded;
      ASSERT_NO_FATAL_FAILURE(LoadText(loaded, Padded(std::string("S") + type + "FF27FFFF", length) + "\r\n"));
      EXPECT_EQ(loaded.stats.overlongLines, length > 1024 ? 1u : 0u);
    }
  }
}

}  // namespace

}  // namespace fennwick
