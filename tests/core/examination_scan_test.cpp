// The examination's scan as a value: what the examination and the strict check are given.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "fakes/fake_files.h"
#include "firmware/examine.h"
#include "srec_text.h"

namespace fennwick {

namespace {

// A file whose length cannot be told.
class NoLengthFile final : public IFile {
 public:
  int64_t Length() override { return -1; }
  int64_t Read(uint8_t*, size_t) override { return 0; }
};

std::vector<uint8_t> Z(const std::string& text) {
  std::vector<uint8_t> v(text.begin(), text.end());
  v.push_back(0);
  return v;
}

std::string Letters(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('a' + i % 26));
  return s;
}

TEST(ExaminationScan, LinesDescriptionAndWindow) {
  const std::string block = S1(0x8100, Z("$ABCDE123 one")) + "\r" + S1(0x8120, Z("two"));
  const std::string longText = std::string("$").append(Letters(299));  // runs past 0x81FF
  const std::string longBlock = S1(0x8100, Text(longText.substr(0, 200))) + "\n" + S1(0x81C8, Z(longText.substr(200)));
  struct Case {
    const char* name;
    std::string file;
    int32_t lines;
    bool present;
    std::string first, second, windowedFirst;
  } cases[] = {
      // Without any line feed there is no line, and nothing is read.
      {"CR line ends only", block + "\r", 0, false, "", "", ""},
      // One line feed: everything before it is one line, read from its first record.
      {"CR line ends, one LF", block + "\r\n", 1, true, "$ABCDE123 one", "", "$ABCDE123 one"},
      {"last line without LF", S1(0x8100, Z("$ABCDE123 one")) + "\n" + S1(0x8120, Z("two")), 2, true,
       "$ABCDE123 one", "two", "$ABCDE123 one"},
      // The examination prints the texts whole; the window cuts them where an image is read.
      {"text past the window", longBlock, 2, true, longText, longText.substr(32), longText.substr(0, 256)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryFile file(c.file, -1);
    const ExaminationScan scan = ScanForExamination(file);
    EXPECT_FALSE(scan.readError);
    EXPECT_FALSE(scan.outOfMemory);
    EXPECT_EQ(scan.lineCount, c.lines);
    EXPECT_EQ(scan.description.present, c.present);
    EXPECT_EQ(scan.description.first, c.first);
    EXPECT_EQ(scan.description.second, c.second);
    EXPECT_EQ(scan.windowed.present, c.present);
    EXPECT_EQ(scan.windowed.first, c.windowedFirst);
    EXPECT_EQ(scan.windowed.compat, scan.description.compat);
  }
}

TEST(ExaminationScan, UnknownLengthIsAReadErrorAndCountsSaturate) {
  NoLengthFile file;
  const ExaminationScan scan = ScanForExamination(file);
  EXPECT_TRUE(scan.readError);
  EXPECT_EQ(scan.lineCount, 0);
  EXPECT_FALSE(scan.description.present);
  EXPECT_EQ(ExaminationLineCount(int64_t{1} << 40, true), std::numeric_limits<int32_t>::max());
}

}  // namespace

}  // namespace fennwick
