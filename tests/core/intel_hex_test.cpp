// The strict Intel HEX reader: problems with their lines, extended addresses, a file as
// SDCC writes it, files written by srec_cat, and the loader in a programming run.
#include <gtest/gtest.h>

#include "fakes/srec_cat_fixture.h"
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "fakes/fake_files.h"
#include "firmware/firmware_file.h"
#include "port_fixture.h"
#include "srec_text.h"

namespace fennwick {

namespace {

namespace fs = std::filesystem;

// One Intel HEX record with a correct checksum (unless `checksum` is given), no line end.
std::string Hex(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data, int checksum = -1) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8),
                                static_cast<uint8_t>(offset), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  bytes.push_back(checksum >= 0 ? static_cast<uint8_t>(checksum) : static_cast<uint8_t>(-sum));
  std::string line = ":";
  char hex[3];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line;
}
std::string Data(uint16_t offset, const std::vector<uint8_t>& d) { return Hex(0x00, offset, d); }
std::string Linear(uint16_t upper) { return Hex(0x04, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)}); }
std::string Segment(uint16_t base) { return Hex(0x02, 0, {static_cast<uint8_t>(base >> 8), static_cast<uint8_t>(base)}); }
const std::string kEof = ":00000001FF";

FirmwareReport CheckHex(const std::string& text, int64_t failAt = -1) {
  MemoryFile file(text, failAt);
  return CheckFirmware(file);
}

// A piece's file name, built by appending: gcc 12 at -O3 misreads "p" + std::to_string(i)
// as an overlapping copy.
std::string PieceFile(size_t i) {
  std::string name = "p";
  name += std::to_string(i);
  name += ".bin";
  return name;
}

std::string Describe(const FirmwareReport& r) {
  std::string s;
  for (const FileProblem& p : r.problems) s += "  line " + std::to_string(p.line) + ": " + p.text + "\n";
  return s;
}

std::vector<uint8_t> At(const FirmwareReport& r, uint32_t address, size_t n) {
  const auto from = r.image.begin() + (address - kFlashBase);
  return {from, from + static_cast<std::ptrdiff_t>(n)};
}

struct Expected {
  uint32_t line;
  const char* text;
};

struct ProblemCase {
  const char* name;
  std::string file;
  std::vector<Expected> problems;
};

TEST(CheckIntelHex, EachProblemWithItsLine) {
  const std::string ok = Data(0x8000, {1, 2, 3, 4});
  const std::vector<ProblemCase> cases = {
      {"checksum", ok + "\n" + Hex(0, 0x8010, {1}, 0x55) + "\n" + kEof + "\n", {{2, "checksum 0x55, expected 0x6E"}}},
      {"count larger than the line", ":0580000001020304F1\n" + kEof + "\n",
       {{1, "byte count 0x05 does not match the 4"}, {0, "no data for the flash"}}},
      {"not a hex digit", ":02800000zz00\n" + kEof + "\n",
       {{1, "'z' in column 10 is not a hex digit"}, {0, "no data for the flash"}}},
      {"lower-case x", ok + "\n:0x\n" + kEof + "\n", {{2, "'x' in column 3"}}},
      {"odd number of digits", ":0180000001FE0\n" + kEof + "\n",
       {{1, "odd number of hex digits"}, {0, "no data for the flash"}}},
      {"record too short", ":00000001\n" + kEof + "\n", {{1, "record too short"}, {0, "no data for the flash"}}},
      {"foreign line", ok + "\nS1058000010203F0\n" + kEof + "\n", {{2, "not an Intel HEX record: starts with 'S'"}}},
      {"unknown record type", ok + "\n" + Hex(0x06, 0, {}) + "\n" + kEof + "\n", {{2, "unknown record type 0x06"}}},
      {"short extended address", Hex(0x04, 0, {1}) + "\n" + kEof + "\n",
       {{1, "extended linear address record with 1 data bytes instead of 2"}, {0, "no data for the flash"}}},
      {"segment record too long", Hex(0x02, 0, {1, 2, 3}) + "\n" + kEof + "\n",
       {{1, "extended segment address"}, {0, "no data for the flash"}}},
      {"end record with data", ok + "\n" + Hex(0x01, 0, {0}) + "\n" + kEof + "\n", {{2, "end-of-file record with 1"}}},
      {"start address of wrong size", Hex(0x05, 0, {0, 0, 0x80}) + "\n" + kEof + "\n",
       {{1, "start linear address"}, {0, "no data for the flash"}}},
      {"data after the end", ok + "\n" + kEof + "\n" + Data(0x8100, {1}) + "\n" + Data(0x8200, {2}) + "\n",
       {{3, "data after the end-of-file record of line 2"}}},
      {"no end record", ok + "\n", {{0, "no end-of-file record"}}},
      {"no line end", ok + "\n" + kEof, {{2, "no line end"}}},
      {"data below the flash", Data(0x7FFF, {1, 2}) + "\n" + kEof + "\n", {{1, "0x07FFF-0x07FFF lies outside"}}},
      {"data past the flash", Linear(2) + "\n" + Data(0x7FFF, {1, 2}) + "\n" + kEof + "\n",
       {{2, "0x28000-0x28000 lies outside"}}},
      {"far linear address", Linear(0x0800) + "\n" + Data(0, {1}) + "\n" + kEof + "\n",
       {{2, "0x8000000-0x8000000"}, {0, "no data for the flash"}}},
      {"overlap", ok + "\r\n\r\n" + Data(0x8003, {9, 9}) + "\r\n" + kEof + "\r\n",
       {{3, "0x08003-0x08003 written again; line 1 wrote it first"}}},
      {"overlap through another base", Data(0x8000, {1}) + "\n" + Segment(0x0800) + "\n" + Data(0, {2}) + "\n" + kEof +
                                           "\n",
       {{3, "0x08000-0x08000 written again; line 1"}}},
      {"overlong line", std::string(1025, ':') + "\n" + kEof + "\n",
       {{1, "longer than 1024"}, {0, "no data for the flash"}}},
      {"several at once", ok + "\n" + Hex(0, 0x8010, {1}, 0) + "\n" + ":xyz\n",
       {{2, "checksum"}, {3, "'x' in column 2"}, {0, "no end-of-file record"}}},
  };
  for (const ProblemCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwareReport r = CheckHex(c.file);
    EXPECT_EQ(r.format, FirmwareFormat::IntelHex);
    ASSERT_EQ(r.problems.size(), c.problems.size()) << Describe(r);
    for (size_t i = 0; i < c.problems.size(); ++i) {
      EXPECT_EQ(r.problems[i].line, c.problems[i].line) << Describe(r);
      EXPECT_NE(r.problems[i].text.find(c.problems[i].text), std::string::npos) << Describe(r);
    }
  }
}

TEST(CheckIntelHex, DataAfterTheEndIsNotLoaded) {
  const FirmwareReport r = CheckHex(Data(0x8000, {1}) + "\n" + kEof + "\n" + Data(0x8001, {2}) + "\n");
  EXPECT_EQ(At(r, 0x8000, 2), (std::vector<uint8_t>{1, 0}));
}

TEST(CheckIntelHex, ExtendedAddresses) {
  // Linear: the offset runs on past 64 KiB. Segment: it wraps within the segment.
  const std::vector<uint8_t> d = {1, 2, 3, 4, 5, 6, 7, 8};
  {
    const FirmwareReport r = CheckHex(Linear(1) + "\n" + Data(0xFFFC, d) + "\n" + Linear(2) + "\n" +
                                      Data(0x7FFC, {9, 9, 9, 9}) + "\n" + Hex(0x05, 0, {0, 0, 0x80, 0}) + "\n" + kEof + "\n");
    EXPECT_FALSE(r.HasProblems()) << Describe(r);
    EXPECT_EQ(At(r, 0x1FFFC, 8), d);
    EXPECT_EQ(At(r, 0x27FFC, 4), (std::vector<uint8_t>{9, 9, 9, 9}));
    EXPECT_EQ(r.ranges, (std::vector<DataRange>{{0x1FFFC, 0x20003}, {0x27FFC, 0x27FFF}}));
  }
  {
    const FirmwareReport r = CheckHex(Segment(0x1000) + "\n" + Data(0xFFFC, d) + "\n" + Segment(0x0800) + "\n" +
                                      Data(0x0010, {7}) + "\n" + Hex(0x03, 0, {0, 0, 0x80, 0}) + "\n" + kEof + "\n");
    EXPECT_FALSE(r.HasProblems()) << Describe(r);
    EXPECT_EQ(At(r, 0x1FFFC, 4), (std::vector<uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(At(r, 0x10000, 4), (std::vector<uint8_t>{5, 6, 7, 8}));
    EXPECT_EQ(At(r, 0x8010, 1), (std::vector<uint8_t>{7}));
    EXPECT_EQ(r.ranges, (std::vector<DataRange>{{0x8010, 0x8010}, {0x10000, 0x10003}, {0x1FFFC, 0x1FFFF}}));
  }
  {
    // A linear record after a segment one: the offset no longer wraps.
    const FirmwareReport r = CheckHex(Segment(0x1000) + "\n" + Linear(1) + "\n" + Data(0xFFFF, {1, 2}) + "\n" + kEof + "\n");
    EXPECT_FALSE(r.HasProblems()) << Describe(r);
    EXPECT_EQ(r.ranges, (std::vector<DataRange>{{0x1FFFF, 0x20000}}));
  }
}

// As SDCC writes it: 16-byte data records, an extended linear address record only where
// the code passes 64 KiB, LF line ends, ":00000001FF" last.
struct SdccFile {
  std::string text;
  std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);
};

SdccFile MakeSdcc() {
  SdccFile f;
  std::vector<uint8_t> code(0x9000);  // 0x8000 to 0x10FFF
  std::mt19937 rng(3);
  for (auto& b : code) b = static_cast<uint8_t>(rng());
  const std::string first = "$FNWK-107 SDCC build", second = "built with sdcc\r\n";
  std::fill(code.begin() + 0x100, code.begin() + 0x160, 0);
  std::copy(first.begin(), first.end(), code.begin() + 0x100);
  std::copy(second.begin(), second.end(), code.begin() + 0x120);
  uint32_t upper = 0;
  for (uint32_t a = 0; a < code.size(); a += 16) {
    const uint32_t address = 0x8000 + a;
    if ((address >> 16) != upper) {
      upper = address >> 16;
      f.text += Linear(static_cast<uint16_t>(upper)) + "\n";
    }
    f.text += Data(static_cast<uint16_t>(address), {code.begin() + a, code.begin() + a + 16}) + "\n";
  }
  f.text += kEof + "\n";
  std::copy(code.begin(), code.end(), f.image.begin());
  return f;
}

TEST(CheckIntelHex, SdccFile) {
  const SdccFile f = MakeSdcc();
  const FirmwareReport r = CheckHex(f.text);
  EXPECT_EQ(r.format, FirmwareFormat::IntelHex);
  EXPECT_FALSE(r.HasProblems()) << Describe(r);
  EXPECT_EQ(r.image, f.image);
  EXPECT_EQ(r.ranges, (std::vector<DataRange>{{0x8000, 0x10FFF}}));
  EXPECT_EQ(r.lineCount, 0x900 + 2);
  EXPECT_EQ(r.crc32, static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), f.image.data(), kImageSize)));
  EXPECT_TRUE(r.description.present);
  EXPECT_EQ(r.description.first, "$FNWK-107 SDCC build");
  EXPECT_EQ(r.description.second, "built with sdcc\r\n");
  EXPECT_EQ(r.description.compat, (std::array<uint8_t, 3>{'1', '0', '7'}));
}

TEST(LoadIntelHexImage, RefusesAFileWithProblemsUnlessAsked) {
  const SdccFile f = MakeSdcc();
  std::vector<uint8_t> image(kImageSize, 0xEE);
  {
    MemoryFile file(f.text, -1);
    const LoadStats stats = LoadIntelHexImage(file, image.data(), nullptr);
    EXPECT_FALSE(stats.readError);
    EXPECT_EQ(image, f.image);
  }
  // No end record, and a byte below the flash.
  const std::string broken = Data(0x7FFF, {1, 2}) + "\n";
  for (bool accept : {false, true}) {
    SCOPED_TRACE(accept);
    MemoryFile file(broken, -1);
    const LoadStats stats = LoadIntelHexImage(file, image.data(), nullptr, accept);
    EXPECT_EQ(stats.readError, !accept);
    EXPECT_EQ(stats.outOfRangeBytes, 1u);
    EXPECT_EQ(image[0], 2);
    EXPECT_EQ(image[1], 0);
  }
  // A read error is one whatever the caller accepts.
  for (int64_t failAt : {0, 100, 30000}) {
    MemoryFile file(f.text, failAt);
    EXPECT_TRUE(LoadIntelHexImage(file, image.data(), nullptr, true).readError) << failAt;
  }
}

// The loader in the programming run: a clean file is sent whole, a broken one not at all.
class ProgramIntelHex : public PortTest {
 protected:
  void SetUp() override {
    OpenDirect();
    serial.onWrite = [this](const std::vector<uint8_t>& w) {
      if (w == Bytes("$wIAP\r\n")) serial.Deliver("ok\r\n", 1);
      else if (w.size() == 128) serial.Deliver(".", 1);
    };
  }
};

TEST_F(ProgramIntelHex, CleanFileIsSentBlockByBlock) {
  const SdccFile f = MakeSdcc();
  const ProgramOutcome outcome = port.ProgramMcu(LoadFirmware(f.text));
  EXPECT_TRUE(outcome.Succeeded());
  ASSERT_EQ(serial.writes.size(), 1u + 2 * 1024 + 1);
  for (size_t i = 0; i < 1024; ++i) {
    ASSERT_EQ(serial.writes[2 + 2 * i],
              std::vector<uint8_t>(f.image.begin() + 128 * i, f.image.begin() + 128 * (i + 1)))
        << "block " << i;
  }
}

TEST_F(ProgramIntelHex, FileThatCouldNotBeReadWholeIsNotFlashed) {
  LoadedFirmware firmware = LoadFirmware(MakeSdcc().text);
  firmware.report.readError = true;
  const ProgramOutcome outcome = port.ProgramMcu(firmware);
  EXPECT_EQ(outcome.status, ProgramOutcome::Status::FileUnreadable);
  EXPECT_EQ(serial.writes.size(), 1u) << "only the IAP request";
  EXPECT_EQ(Log(), "Read S19 File failed!\r\n");
}

TEST_F(ProgramIntelHex, ExaminationOfTheImage) {
  EXPECT_EQ(port.ExamineFirmware(LoadFirmware(MakeSdcc().text), "xxxxxx107").verdict,
            ExamineOutcome::Verdict::Suitable);
  EXPECT_EQ(Log(), "\r\nReading file information....\r\n-----Selected S19 File Desc-----\r\n"
                   "Version: $FNWK-107 SDCC buildbuilt with sdcc\r\nPlease click \"Start\" to update current MCU.");
  EXPECT_EQ(port.LineCount(), 0x902);
}

// Files written by an independent S-record tool load to the image it was given.
class AgainstSrecCat : public SrecCatFixture<> {};

TEST_F(AgainstSrecCat, WrittenFilesLoadToTheSameImage) {
  struct Piece {
    uint32_t address;
    size_t size;
  };
  // Within 64 KiB for the 16-bit form; across the segment and linear boundaries otherwise.
  const std::vector<Piece> low = {{0x8000, 0x1000}, {0x8100, 0x40}, {0xFFF0, 0x10}};
  const std::vector<Piece> wide = {{0x8000, 0x2345}, {0xFFC0, 0x81}, {0x1FFE0, 0x40}, {0x27F00, 0x100}};
  struct Case {
    const char* output;
    const std::vector<Piece>* pieces;
  } cases[] = {
      {"-intel -address-length=2 -Output_Block_Size=16", &low},
      {"-intel -address-length=3 -Output_Block_Size=32", &wide},
      {"-intel -address-length=4 -Output_Block_Size=32", &wide},
      {"-intel -address-length=4 -Output_Block_Size=255", &wide},
      {"-intel", &wide},
      {"-motorola -address-length=2 -Output_Block_Size=16", &low},
      {"-motorola -address-length=3 -Output_Block_Size=32", &wide},
      {"-motorola -address-length=3 -Output_Block_Size=250", &wide},
  };
  std::mt19937 rng(21);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    std::vector<uint8_t> expected(kImageSize, 0);
    std::vector<uint8_t> written(kImageSize, 0);
    for (size_t i = 0; i < c.pieces->size(); ++i) {
      const Piece& p = (*c.pieces)[i];
      std::vector<uint8_t> bytes(p.size);
      for (auto& b : bytes) b = static_cast<uint8_t>(rng());
      for (size_t k = 0; k < p.size; ++k) {
        expected[p.address - kFlashBase + k] = bytes[k];
        written[p.address - kFlashBase + k] = 1;
      }
      std::ofstream(dir_ / PieceFile(i), std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // Each later piece overrides the earlier ones where they overlap, as in our image.
    std::string layered;
    for (size_t i = 0; i < c.pieces->size(); ++i) {
      const Piece& p = (*c.pieces)[i];
      std::string piece = PieceFile(i);
      piece += " -binary -offset ";
      piece += std::to_string(p.address);
      for (size_t j = i + 1; j < c.pieces->size(); ++j) {
        const Piece& q = (*c.pieces)[j];
        piece += " -exclude " + std::to_string(q.address) + " " + std::to_string(q.address + q.size);
      }
      layered += " " + piece;
    }
    Run("srec_cat" + layered + " -o fw.out " + c.output);
    const std::string text = Slurp("fw.out");
    const FirmwareReport r = CheckHex(text);
    EXPECT_EQ(r.format, std::string(c.output).find("intel") != std::string::npos ? FirmwareFormat::IntelHex
                                                                                    : FirmwareFormat::S19);
    EXPECT_FALSE(r.HasProblems()) << Describe(r);
    EXPECT_EQ(r.image, expected);
    std::vector<DataRange> ranges;
    for (uint32_t k = 0; k < kImageSize; ++k) {
      if (!written[k]) continue;
      if (!ranges.empty() && ranges.back().last + 1 == kFlashBase + k) {
        ranges.back().last = kFlashBase + k;
      } else {
        ranges.push_back({kFlashBase + k, kFlashBase + k});
      }
    }
    EXPECT_EQ(r.ranges, ranges);
  }
}

}  // namespace

}  // namespace fennwick
