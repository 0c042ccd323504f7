// The strict S19 reader behind `check`: problems with their lines, the image, ranges,
// description and CRC of clean files, format detection, and hostile input.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "fakes/fake_files.h"
#include "firmware/firmware_file.h"
#include "srec_text.h"

namespace fennwick {

namespace {

FirmwareReport Check(const std::string& text, int64_t failAt = -1) {
  MemoryFile file(text, failAt);
  return CheckFirmware(file);
}

uint32_t ZlibCrc(const std::vector<uint8_t>& image) {
  return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), image.data(), static_cast<uInt>(image.size())));
}

std::string Describe(const FirmwareReport& r) {
  std::string s;
  for (const FileProblem& p : r.problems) s += "  line " + std::to_string(p.line) + ": " + p.text + "\n";
  return s;
}

struct Expected {
  uint32_t line;
  const char* text;  // a part of the problem's text
};

struct ProblemCase {
  const char* name;
  std::string file;
  std::vector<Expected> problems;
};

const std::string kHeader = Record('0', 2, 0, Text("hdr"));

std::vector<ProblemCase> S19Cases() {
  const std::string ok1 = S1(0x8000, {1, 2, 3, 4});
  return {
      {"checksum", kHeader + "\n" + Record('1', 2, 0x8000, {1, 2}, 0x00) + "\n", {{2, "checksum 0x00, expected"}}},
      // The loader takes the count at its word and flashes what lies behind the line.
      {"count larger than the line", kHeader + "\nS10780000102FF\n",
       {{2, "count 0x07 does not match the 5 bytes"}, {2, "the programming run writes 0x08000-0x08003 from this line"}}},
      {"count smaller than the line", kHeader + "\nS1038000010203FF\n", {{2, "count 0x03 does not match"}, {0, "no data for the flash"}}},
      {"count too small for the address", "S1020000\n", {{1, "too small for an S1 record"}, {0, "no data for the flash"}}},
      {"not a hex digit", ok1 + "\nS1058000G1020377\n",
       {{2, "'G' in column 9 is not a hex digit"}, {2, "the programming run writes other data at 0x08000-0x08000"}}},
      {"blank inside a record", "S105800001 0203\n",
       {{1, "' ' in column 11"}, {1, "the programming run writes 0x08000-0x08000"}}},
      {"odd number of digits", ok1 + "\nS10580000102037\n", {{2, "odd number of hex digits"}}},
      {"record without digits", "S1\n", {{1, "record too short"}, {0, "no data for the flash"}}},
      {"record count wrong", ok1 + "\n" + S1(0x8010, {5}) + "\n" + Record('5', 2, 3, {}) + "\n",
       {{3, "record count 3, but 2 data records precede it"}}},
      {"S6 record count wrong", ok1 + "\n" + Record('6', 3, 0, {}) + "\n", {{2, "record count 0, but 1"}}},
      {"data below the flash", S1(0x7FFE, {1, 2, 3, 4}) + "\n", {{1, "0x07FFE-0x07FFF lies outside the flash"}}},
      {"data past the flash", S2(0x27FFE, {1, 2, 3, 4}) + "\n", {{1, "0x28000-0x28001 lies outside the flash"}}},
      {"S3 far away", S3(0x08000000, {1}) + "\n", {{1, "0x8000000-0x8000000 lies outside"}, {0, "no data for the flash"}}},
      {"overlap", ok1 + "\n" + kHeader + "\n" + S1(0x8002, {9, 9, 9}) + "\n",
       {{3, "0x08002-0x08003 written again; line 1 wrote it first"}}},
      {"overlap of two earlier lines", ok1 + "\n" + S1(0x8004, {5, 6}) + "\n" + S1(0x8003, {7, 7, 7}) + "\n",
       {{3, "0x08003-0x08003 written again; line 1"}, {3, "0x08004-0x08005 written again; line 2"}}},
      {"no line end", kHeader + "\n" + ok1, {{2, "no line end"}, {0, "no end record"}}},
      {"S4 is no record type", "S4030000FC\n", {{1, "unknown record type S4"}, {0, "no data for the flash"}}},
      {"letter as record type", kHeader + "\r\nSX030000FC\r\n", {{2, "unknown record type SX"}, {0, "no data for the flash"}}},
      {"foreign line", ok1 + "\n:0100000001FE\n", {{2, "not an S-record: starts with ':'"}}},
      {"overlong line", ok1 + "\n" + std::string(2000, 'S') + "\n" + S1(0x8010, {1}) + "\n", {{2, "longer than 1024"}}},
      // Line numbers count CR LF, LF and CR alike, blank lines included.
      {"line numbers with mixed line ends", ok1 + "\r\n\r\n" + kHeader + "\r" + kHeader + "\n" +
                                                Record('1', 2, 0x8010, {1}, 0x12) + "\n",
       {{5, "checksum 0x12"}}},
      // The examination takes S1 records only: a block in S2 records is flashed but not found.
      {"description in S2 records", kHeader + "\n" + S2(0x8100, Text("$107 board")) + "\n",
       {{2, "description block at 0x8100 that the file examination does not find"}}},
      // ... nor in lines ended by CR alone, which the examination does not split.
      {"description behind CR line ends", kHeader + "\r" + S1(0x8100, Text("$107 board")) + "\r",
       {{2, "does not find"}}},
      {"description overwritten by an S2 record",
       S1(0x8100, Text("$107 one")) + "\n" + S2(0x8100, Text("$108 two")) + "\n",
       {{2, "0x08100-0x08107 written again; line 1"}, {2, "finds a description block other than"}}},
  };
}

TEST(CheckS19, EachProblemWithItsLine) {
  for (const ProblemCase& c : S19Cases()) {
    SCOPED_TRACE(c.name);
    // Each file ends as a whole one does, where its last line is whole.
    const bool whole = c.file.ends_with("\n") || c.file.ends_with("\r");
    const FirmwareReport r = Check(whole ? c.file + "S9030000FC\n" : c.file);
    EXPECT_EQ(r.format, FirmwareFormat::S19);
    EXPECT_FALSE(r.readError);
    // Problems first, then the warnings (descriptions the examination reads otherwise).
    std::vector<FileProblem> found = r.problems;
    found.insert(found.end(), r.warnings.begin(), r.warnings.end());
    EXPECT_EQ(found.size(), c.problems.size()) << Describe(r);
    if (found.size() != c.problems.size()) continue;
    for (size_t i = 0; i < c.problems.size(); ++i) {
      EXPECT_EQ(found[i].line, c.problems[i].line) << Describe(r);
      EXPECT_NE(found[i].text.find(c.problems[i].text), std::string::npos) << Describe(r);
    }
    for (const FileProblem& w : r.warnings) EXPECT_NE(w.text.find("description block"), std::string::npos);
    EXPECT_EQ(r.HasProblems(), !r.problems.empty());
  }
}

// A firmware written the way the MCU's build writes it, with correct checksums.
struct CleanFile {
  std::string text;
  std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);
  std::vector<DataRange> ranges;
};

CleanFile MakeClean(const char* lineEnd) {
  CleanFile f;
  auto put = [&](uint32_t address, const std::vector<uint8_t>& data) {
    for (size_t i = 0; i < data.size(); ++i) f.image[address - kFlashBase + i] = data[i];
  };
  std::vector<std::string> lines = {kHeader};
  std::mt19937 rng(11);
  int dataRecords = 0;
  // Code from 0x8000 to 0x80FF in 32-byte S1 records.
  for (uint32_t a = 0x8000; a < 0x8100; a += 32) {
    std::vector<uint8_t> d(32);
    for (auto& b : d) b = static_cast<uint8_t>(rng());
    lines.push_back(S1(a, d));
    put(a, d);
    ++dataRecords;
  }
  // The description block right behind it, both texts zero-terminated.
  std::vector<uint8_t> block = Text("$FNWK-107 Fennwick test");
  block.resize(0x20, 0);
  const std::vector<uint8_t> second = Text("built for the bench\r\n");
  block.insert(block.end(), second.begin(), second.end());
  block.push_back(0);
  lines.push_back(S1(0x8100, block));
  put(0x8100, block);
  ++dataRecords;
  // A separate run in S2 records above 64 KiB, ending at the last flash byte.
  for (uint32_t a = 0x27F00; a < 0x28000; a += 64) {
    std::vector<uint8_t> d(64);
    for (auto& b : d) b = static_cast<uint8_t>(rng());
    lines.push_back(S2(a, d));
    put(a, d);
    ++dataRecords;
  }
  lines.push_back(Record('5', 2, static_cast<uint32_t>(dataRecords), {}));
  lines.push_back("S9030000FC");
  for (const std::string& l : lines) f.text += l + lineEnd;
  f.ranges = {{0x8000, 0x8100 + static_cast<uint32_t>(block.size()) - 1}, {0x27F00, 0x27FFF}};
  return f;
}

TEST(CheckS19, CleanFileHasNoProblem) {
  for (const char* lineEnd : {"\r\n", "\n"}) {
    SCOPED_TRACE(lineEnd[0] == '\r' ? "CR LF" : "LF");
    const CleanFile f = MakeClean(lineEnd);
    const FirmwareReport r = Check(f.text);
    EXPECT_EQ(r.format, FirmwareFormat::S19);
    EXPECT_FALSE(r.HasProblems()) << Describe(r);
    EXPECT_EQ(r.ranges, f.ranges);
    EXPECT_EQ(r.image, f.image);
    EXPECT_EQ(r.crc32, ZlibCrc(f.image));
    EXPECT_EQ(r.lineCount, 16);
    EXPECT_EQ(r.outOfRangeBytes, 0u);
    EXPECT_TRUE(r.description.present);
    EXPECT_EQ(r.description.first, "$FNWK-107 Fennwick test");
    EXPECT_EQ(r.description.second, "built for the bench\r\n");
    EXPECT_EQ(r.description.compat, (std::array<uint8_t, 3>{'1', '0', '7'}));

    // The image is the one the programming run builds from the same file.
    std::vector<uint8_t> flashed(kImageSize, 0xEE), buffer(kPacketBufferSize, 0);
    MemoryFile file(f.text, -1);
    LoadS19Image(file, flashed.data(), buffer.data());
    EXPECT_EQ(r.image, flashed);
  }
}

TEST(CheckS19, MixedLineEndsAndBlankLinesAreFine) {
  std::string text = "\r\n\n" + kHeader + "\r\n" + S1(0x8000, {1}) + "\n" + S1(0x8001, {2}) + "\r" +
                     S1(0x8002, {3}) + "\r\n  \n" + S1(0x8100, Text("$ab")) + "\nS9030000FC\r";
  const FirmwareReport r = Check(text);
  EXPECT_FALSE(r.HasProblems()) << Describe(r);
  EXPECT_EQ(r.ranges, (std::vector<DataRange>{{0x8000, 0x8002}, {0x8100, 0x8102}}));
  EXPECT_TRUE(r.description.present);
}

TEST(CheckS19, NoDescriptionIsNoProblem) {
  const FirmwareReport r = Check(S1(0x8000, {1, 2}) + "\nS9030000FC\n");
  EXPECT_FALSE(r.HasProblems());
  EXPECT_FALSE(r.description.present);
}

// A file cut at a line boundary has every line whole; an image without a single data byte
// would only erase the flash. Both are problems, in either format.
TEST(CheckFirmware, FilesCutShortOrWithoutDataAreProblems) {
  const std::string data = S1(0x8000, {1, 2, 3}) + "\n" + S2(0x10000, {4}) + "\n";
  const std::string hexData = ":0380000001020377\n";
  struct Case {
    const char* name;
    std::string text;
    bool hasData;
    std::vector<const char*> problems;  // the whole-file ones, in order
  } cases[] = {
      {"S19 whole", data + "S9030000FC\n", true, {}},
      {"S19 ended by its record count", data + Record('5', 2, 2, {}) + "\n", true, {}},
      {"S19 cut after the data", data, true, {"no end record"}},
      {"S19 cut after a record count", data + Record('5', 2, 2, {}) + "\n" + S1(0x9000, {1}) + "\n", true,
       {"no end record"}},
      {"S19 cut after the header", kHeader + "\n", false, {"no end record", "no data for the flash"}},
      {"S19 of only an end record", "S9030000FC\n", false, {"no data for the flash"}},
      {"S19 with data outside the flash only", S1(0x7000, {1}) + "\nS9030000FC\n", false,
       {"no data for the flash"}},
      {"Intel HEX whole", hexData + ":00000001FF\n", true, {}},
      {"Intel HEX cut after the data", hexData, true, {"no end-of-file record"}},
      {"Intel HEX of only an end record", ":00000001FF\n", false, {"no data for the flash"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FirmwareReport r = Check(c.text);
    EXPECT_EQ(r.hasData, c.hasData);
    std::vector<std::string> whole;
    for (const FileProblem& p : r.problems) {
      if (p.line == 0) whole.push_back(p.text);
    }
    ASSERT_EQ(whole.size(), c.problems.size()) << Describe(r);
    for (size_t i = 0; i < whole.size(); ++i) EXPECT_NE(whole[i].find(c.problems[i]), std::string::npos) << whole[i];
  }
}

TEST(CheckS19, LineCountIsTheExaminations) {
  struct Case {
    std::string text;
    int32_t lines;
  } cases[] = {{"", 0}, {"S1\n", 1}, {"a\nb", 2}, {"a\r\nb\r\n", 2}, {"a\rb\rc\r", 0}, {"\n\n\n", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Check(c.text).lineCount, c.lines);
  }
}

TEST(CheckS19, ReadErrorIsReported) {
  const std::string text = MakeClean("\n").text;
  for (int64_t failAt : {0, 1, 100, 1000}) {
    SCOPED_TRACE(failAt);
    EXPECT_TRUE(Check(text, failAt).readError);
    MemoryFile file(text, failAt);
    EXPECT_TRUE(CheckS19(file).readError);
  }
}

TEST(DetectFirmwareFormat, ByContent) {
  struct Case {
    std::string text;
    FirmwareFormat format;
  } cases[] = {
      {"", FirmwareFormat::Unknown},
      {"S00600004844521B\n", FirmwareFormat::S19},
      {"\r\n\r\n  \nS1", FirmwareFormat::S19},
      {":00000001FF\n", FirmwareFormat::IntelHex},
      {"\n\n:10", FirmwareFormat::IntelHex},
      {"S", FirmwareFormat::Unknown},
      {"SX00", FirmwareFormat::Unknown},
      {"s1", FirmwareFormat::Unknown},
      {"hello\n:00000001FF\n", FirmwareFormat::Unknown},
      {std::string("\x7F" "ELF\x02\x01", 6), FirmwareFormat::Unknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    MemoryFile file(c.text, -1);
    EXPECT_EQ(DetectFirmwareFormat(file), c.format);
    EXPECT_EQ(Check(c.text).format, c.format);
  }
}

TEST(CheckFirmware, UnknownContentIsOneProblemOfTheFile) {
  struct Case {
    std::string text;
    const char* problem;
  } cases[] = {
      {"", "holds no records"},
      {"\n \r\n", "holds no records"},
      {"hello world", "neither"},
      {std::string(5000, 'x') + "\n" + std::string(5000, 'y'), "neither"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    const FirmwareReport r = Check(c.text);
    EXPECT_EQ(r.format, FirmwareFormat::Unknown);
    ASSERT_EQ(r.problems.size(), 1u) << Describe(r);
    EXPECT_EQ(r.problems[0].line, 0u);
    EXPECT_NE(r.problems[0].text.find(c.problem), std::string::npos);
    EXPECT_TRUE(r.ranges.empty());
    EXPECT_EQ(r.image.size(), kImageSize);
  }
}

// Detection reads ahead of the reader; what it read must reach the reader intact, also
// across its read chunks.
TEST(CheckFirmware, LongBlankStartKeepsLinesAndContent) {
  const std::string blank(9000, '\n');
  const CleanFile f = MakeClean("\n");
  const FirmwareReport r = Check(blank + f.text + Record('1', 2, 0x8000, {1}, 0));
  EXPECT_EQ(r.format, FirmwareFormat::S19);
  ASSERT_FALSE(r.problems.empty());
  EXPECT_EQ(r.problems[0].line, 9000u + 17u);
  EXPECT_EQ(r.lineCount, 9000 + 17);
  EXPECT_FALSE(r.readError);
}

TEST(CheckFirmware, GarbageGivesALimitedListAndNoCrash) {
  std::mt19937 rng(5);
  std::string garbage;
  for (int i = 0; i < 400000; ++i) garbage += static_cast<char>(rng());
  // Lines of every kind of wrongness, each used by both readers.
  std::vector<std::string> hostile = {
      garbage,
      "S1" + garbage,
      ":" + garbage,
      "S1FF89FF" + std::string(3000, 'G') + "\n",          // huge count, no digits
      "S1FF8100" + std::string(1021, 'F') + "\nS1\nS\n",  // the examination's longest line, then short ones
      std::string(5000, 'S') + "1",
      "S1" + std::string(1, '\0') + "\n\0\0\0\n",
  };
  std::string manyBad;
  for (int i = 0; i < 3000; ++i) manyBad += "S1xx\n";
  hostile.push_back(manyBad);
  for (const std::string& text : hostile) {
    for (int reader = 0; reader < 3; ++reader) {
      MemoryFile file(text, -1);
      const FirmwareReport r = reader == 0 ? CheckFirmware(file) : reader == 1 ? CheckS19(file) : CheckIntelHex(file);
      EXPECT_EQ(r.image.size(), kImageSize);
      EXPECT_LE(r.problems.size(), kMaxListedProblems + 2);
    }
  }
  // The two whole-file problems (no end record, no data) join the full list.
  const FirmwareReport r = Check(manyBad);
  EXPECT_EQ(r.problems.size(), kMaxListedProblems + 2);
  EXPECT_EQ(r.ProblemCount(), 3002u);
}

}  // namespace

}  // namespace fennwick
