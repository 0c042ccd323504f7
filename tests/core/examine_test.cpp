#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "port_fixture.h"
#include "srec_text.h"

namespace fennwick {

namespace {

const std::u16string kPath = u"fw.s19";
const std::string kReading = "\r\nReading file information....\r\n";
const std::string kHeading = "-----Selected S19 File Desc-----\r\nVersion: ";
const std::string kSuitable = "Please click \"Start\" to update current MCU.";
const std::string kWarning =
    "!!!!!WARNNING!!!!!\r\nThe file you select is NOT suitable for current unit! Please confirm it before click "
    "\"Start\".";
const std::string kNoDescription = "This file has no description.";
// Positions 6 to 8 are the compatibility characters.
const std::string kFirstText = "$ABCDE123 Sample";
const std::string kMcuVersion = "01V1.0123\r\n";
const std::string kSecondText = "Built for board 4\r\n";

std::vector<uint8_t> Z(const std::string& text) {
  std::vector<uint8_t> v(text.begin(), text.end());
  v.push_back(0);
  return v;
}

// A firmware file whose lines end in `eol`: header, description block, other data, end.
std::string Firmware(const std::string& eol, const std::string& first = kFirstText,
                     const std::string& second = kSecondText) {
  return Record('0', 2, 0, Text("hdr")) + eol + S1(0x8000, {1, 2, 3, 4}) + eol + S1(0x8100, Z(first)) + eol +
         S1(0x8120, Z(second)) + eol + S2(0x10000, {5, 6}) + eol + "S9030000FC" + eol;
}

using Verdict = ExamineOutcome::Verdict;

struct ExamineCase {
  const char* name;
  std::string file;
  std::string mcuVersion;
  int32_t lines;
  std::string log;  // after the reading message
  Verdict verdict;
};

class ExamineFile : public PortTest {
 protected:
  void SetVersion(const std::string& text) { mcuVersion = text; }
  int Examine(const std::string& text, int64_t failAt = -1) {
    files.Add(kPath, text, failAt);
    last = port.ExamineFirmware(ReadS19(kPath), mcuVersion);
    return last.verdict == Verdict::OutOfMemory ? 0 : 1;
  }
  std::string mcuVersion;  // the MCU's, from its reply's byte 3 on
  ExamineOutcome last;
};

class ExamineCases : public ExamineFile, public ::testing::WithParamInterface<ExamineCase> {};

TEST_P(ExamineCases, LogVerdictLinesAndRange) {
  const ExamineCase& c = GetParam();
  SetVersion(c.mcuVersion);
  EXPECT_EQ(Examine(c.file), 1);
  EXPECT_EQ(Log(), kReading + c.log);
  EXPECT_EQ(port.LineCount(), c.lines);
  EXPECT_EQ(last.verdict, c.verdict);
  EXPECT_FALSE(last.readError);
  const std::vector<std::string> range = {"range " + std::to_string(c.lines)};
  EXPECT_EQ(run.progress, range);
}

std::string Described(const std::string& first, const std::string& second, const std::string& verdict) {
  return kHeading + first + second + verdict;
}

std::string Chunks(const std::string& text, uint32_t address, size_t chunk = 200) {
  std::string lines;
  for (size_t at = 0; at < text.size(); at += chunk) {
    const std::string part = text.substr(at, chunk);
    lines += S1(address + static_cast<uint32_t>(at), Text(part)) + "\n";
  }
  return lines;
}

std::string LongText(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('a' + i % 26));
  return s;
}

const ExamineCase kExamineCases[] = {
    {"EmptyFile", "", kMcuVersion, 0, kNoDescription, Verdict::NoDescription},
    {"Suitable", Firmware("\n"), kMcuVersion, 6, Described(kFirstText, kSecondText, kSuitable), Verdict::Suitable},
    {"Unsuitable", Firmware("\n"), "01V1.0124\r\n", 6, Described(kFirstText, kSecondText, kWarning),
     Verdict::Unsuitable},
    {"CrLfCountedOnce", Firmware("\r\n"), kMcuVersion, 6, Described(kFirstText, kSecondText, kSuitable),
     Verdict::Suitable},
    {"BlankLinesCount", "\n\n" + Firmware("\r\n") + "\r\n\n", kMcuVersion, 10,
     Described(kFirstText, kSecondText, kSuitable), Verdict::Suitable},
    {"LastLineWithoutLineFeed", S1(0x8100, Z(kFirstText)) + "\n" + S1(0x8120, Z(kSecondText)), kMcuVersion, 2,
     Described(kFirstText, kSecondText, kSuitable), Verdict::Suitable},
    // No line feed at all: no line, nothing stored.
    {"CarriageReturnsOnly", Firmware("\r"), kMcuVersion, 0, kNoDescription, Verdict::NoDescription},
    {"DescriptionInS2Records", S2(0x8100, Z(kFirstText)) + "\n" + S2(0x8120, Z(kSecondText)) + "\n", kMcuVersion, 2,
     kNoDescription, Verdict::NoDescription},
    {"AnyFirstCharacter", "X" + S1(0x8100, Z(kFirstText)).substr(1) + "\n", kMcuVersion, 1,
     Described(kFirstText, "", kSuitable), Verdict::Suitable},
    {"LaterRecordsOverwrite", Firmware("\n", "$ABCDE999 Old") + S1(0x8106, Text("123")) + "\n", kMcuVersion, 7,
     Described("$ABCDE123 Old", kSecondText, kSuitable), Verdict::Suitable},
    {"CountOf3StoresNothing", "S1038100" + std::string("24414243444531323300") + "\n", kMcuVersion, 1,
     kNoDescription, Verdict::NoDescription},
    // Zero bytes compare equal: an MCU that gave no version matches a block without them.
    {"ZeroCompatibilityBytesMatchNoVersion", Firmware("\n", "$AB"), "", 6, Described("$AB", kSecondText, kSuitable),
     Verdict::Suitable},
    {"ZeroCompatibilityBytesAgainstAVersion", Firmware("\n", "$AB"), kMcuVersion, 6,
     Described("$AB", kSecondText, kWarning), Verdict::Unsuitable},
    {"ShortVersionReply", Firmware("\n", "$ABCDE1"), "01V1.01", 6, Described("$ABCDE1", kSecondText, kSuitable),
     Verdict::Suitable},
    // Without a zero byte before 0x8120 the first text runs on into the second.
    {"FirstTextRunsIntoSecond", Firmware("\n", "$ABCDE123" + std::string(23, '-'), "TAIL"), kMcuVersion, 6,
     Described("$ABCDE123" + std::string(23, '-') + "TAIL", "TAIL", kSuitable), Verdict::Suitable},
    {"DescriptionCutAtTheLogBuffer", S1(0x8100, Z(kFirstText)) + "\n" + Chunks(LongText(1200) + '\0', 0x8120),
     kMcuVersion, 8, (kHeading + kFirstText + LongText(1200)).substr(0, 1023) + kSuitable, Verdict::Suitable},
    // Characters beyond the line buffer are dropped; the next line starts afresh.
    {"OverlongLine", S1(0x8100, Z(kFirstText)) + std::string(3000, '7') + "\n" + S1(0x8120, Z(kSecondText)) + "\n",
     kMcuVersion, 2, Described(kFirstText, kSecondText, kSuitable), Verdict::Suitable},
    {"EightBitText", Firmware("\n", "$ABCDE123 caf\xE9", "\xA7 4\r\n"), kMcuVersion, 6,
     Described("$ABCDE123 caf\xE9", "\xA7 4\r\n", kSuitable), Verdict::Suitable},
};

INSTANTIATE_TEST_SUITE_P(ExamineFile, ExamineCases, ::testing::ValuesIn(kExamineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExamineFile, ReadErrorEndsTheScanThereWithALogLine) {
  SetVersion(kMcuVersion);
  const std::string head = S1(0x8100, Z(kFirstText)) + "\n";
  const std::string partial = S1(0x8120, Z(kSecondText));
  const std::string file = head + partial + "\n" + S1(0x8106, Text("999")) + "\n";

  // At a line boundary: the lines before it count.
  EXPECT_EQ(Examine(file, static_cast<int64_t>(head.size())), 1);
  EXPECT_EQ(Log(), kReading + "Read S19 File failed!\r\n" + Described(kFirstText, "", kSuitable));
  EXPECT_EQ(port.LineCount(), 1);
  EXPECT_TRUE(last.readError);

  // In mid-line: the part read is the file's last line.
  run.log.clear();
  EXPECT_EQ(Examine(file, static_cast<int64_t>(head.size() + partial.size())), 1);
  EXPECT_EQ(Log(), kReading + "Read S19 File failed!\r\n" + Described(kFirstText, kSecondText, kSuitable));
  EXPECT_EQ(port.LineCount(), 2);
  EXPECT_EQ(run.progress.back(), "range 2");

  // At once.
  run.log.clear();
  EXPECT_EQ(Examine(file, 0), 1);
  EXPECT_EQ(Log(), kReading + "Read S19 File failed!\r\n" + kNoDescription);
  EXPECT_EQ(port.LineCount(), 0);
}

TEST_F(ExamineFile, EachExaminationStartsFromAnEmptyImageAndCount) {
  SetVersion(kMcuVersion);
  ASSERT_EQ(Examine(Firmware("\n")), 1);
  EXPECT_EQ(last.verdict, Verdict::Suitable);
  run.log.clear();
  ASSERT_EQ(Examine(S1(0x8000, {1}) + "\n"), 1);
  EXPECT_EQ(Log(), kReading + kNoDescription);
  EXPECT_EQ(port.LineCount(), 1);
  EXPECT_EQ(last.verdict, Verdict::NoDescription);
}

// Hostile input: every field read stays inside the line buffer and every store inside the
// image; the sanitizers watch, and the line count must still be right.
int32_t Lines(const std::string& text) {
  const auto feeds = static_cast<int32_t>(std::count(text.begin(), text.end(), '\n'));
  return feeds + (feeds > 0 && text.back() != '\n' ? 1 : 0);
}

TEST_F(ExamineFile, HostileRandomFiles) {
  std::mt19937 rng(99);
  const std::string alphabet = "S1S1S1S20123456789ABCDEFZz \r\n\n\xFF";
  for (int round = 0; round < 200; ++round) {
    std::string text(rng() % 5000, '\0');
    for (char& ch : text) {
      ch = round % 2 ? static_cast<char>(rng() & 0xFF) : alphabet[rng() % alphabet.size()];
    }
    run.log.clear();
    ASSERT_EQ(Examine(text), 1) << "round " << round;
    ASSERT_EQ(port.LineCount(), Lines(text)) << "round " << round;
  }
}

TEST_F(ExamineFile, HostileCountsAddressesAndShortLines) {
  const char* counts[] = {"FF", "ZZ", "zz", "  ", "\xFF\xFF", "~~", "00", "03", "04"};
  const char* addresses[] = {"89FF", "8A00", "FFFF", "0000", "ZZZZ", "\xFF\xFF\xFF\xFF", "8100", "1"};
  std::string file;
  for (const char* count : counts) {
    for (const char* address : addresses) {
      // A long line first, so that short ones find its characters in the line buffer.
      file += "S1FF8100" + std::string(1100, 'F') + "\n";
      const std::string line = std::string("S1") + count + address + "24414243444531323300";
      for (size_t length = 1; length <= line.size(); ++length) file += line.substr(0, length) + "\n";
    }
  }
  EXPECT_EQ(Examine(file), 1);
  EXPECT_EQ(port.LineCount(), Lines(file));
}

}  // namespace

}  // namespace fennwick
