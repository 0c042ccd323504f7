// The check reports the image that the programming run's loader builds, byte for byte,
// whatever the file holds; where the loader writes what the format does not mean as data,
// the check calls it a problem. A firmware loaded once carries what the loader and the
// examination would make of the file on their own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "core/srec_text.h"
#include "fakes/fake_files.h"
#include "firmware/examine.h"
#include "firmware/loaded_firmware.h"

namespace fennwick {

namespace {

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

std::string DataRecords(int n) {
  std::vector<std::string> lines;
  for (int i = 0; i < n; ++i) lines.push_back(S2(0x8000 + 16 * static_cast<uint32_t>(i), std::vector<uint8_t>(16, 0x11)));
  return Lines(lines);
}

TEST(CheckAndLoader, AgreeOnTheImageAndCallEveryUnintendedWriteAProblem) {
  struct Case {
    const char* name;
    std::string text;
    const char* problem;  // a problem the check must list (empty: none at all)
  };
  const Case cases[] = {
      {"clean", DataRecords(4) + Lines({"S5030004F8", "S804008000" "7B"}), ""},
      // The count is right, but the record carries 3 bytes more: the loader writes AB CD
      // at 0x8000 with the address length of the S2 records before it.
      {"S5 with data", DataRecords(128) + "S506008000ABCD01\n", "an S5 record holds no data, but this one carries 3 bytes"},
      {"S9 with data", DataRecords(1) + Lines({Record('9', 2, 0x8000, {1, 2})}), "an S9 record holds no data"},
      {"S5 before any data", Lines({Record('5', 2, 0, {7}), S1(0x8000, {1})}), "an S5 record holds no data"},
      {"not starting with S", Lines({S1(0x9000, {1}), "X1058000AABB" "1A"}), "the programming run writes 0x08000-0x08001"},
      {"count beyond the line", Lines({S1(0x8000, std::vector<uint8_t>(40, 0x22)), "S1FF8000"}), "the programming run writes"},
      {"last line without end", DataRecords(1) + S1(0x9000, {5, 6}), "the last line has no line end"},
      {"CR only and blank lines", "\r\r" + S1(0x8000, {9}) + "\r \r\t\rS9030000FC\r", ""},
      {"lower case", Lines({S1(0x9000, {1}), "s1058000aabb" "1a"}), "not an S-record"},
      {"no known format", Lines({"hello", S1(0x8100, {'$', 'A'}), std::string(1100, 'F')}), "neither an S19"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> image(kImageSize, 0xEE);
    uint8_t packet[kPacketBufferSize] = {};
    MemoryFile forLoader(c.text, -1);
    LoadS19Image(forLoader, image.data(), packet);
    const LoadedFirmware loaded = LoadFirmware(c.text);
    const FirmwareReport& report = loaded.report;
    EXPECT_TRUE(report.image == image);
    ASSERT_LE(loaded.loaderRemains.size(), sizeof packet);
    EXPECT_EQ(loaded.loaderRemains, std::vector<uint8_t>(packet, packet + loaded.loaderRemains.size()));
    EXPECT_TRUE(std::all_of(packet + loaded.loaderRemains.size(), std::end(packet), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(loaded.loader.overlongLines, report.overlongLines);
    MemoryFile forScan(c.text, -1);
    const ExaminationScan scan = ScanForExamination(forScan);
    EXPECT_EQ(loaded.scan.lineCount, scan.lineCount);
    EXPECT_EQ(loaded.scan.description, scan.description);
    EXPECT_EQ(report.crc32, ImageCrc32(image.data()));
    std::string problems;
    for (const FileProblem& p : report.problems) problems += std::to_string(p.line) + ": " + p.text + "\n";
    if (*c.problem == '\0') {
      EXPECT_EQ(problems, "");
    } else {
      EXPECT_NE(problems.find(c.problem), std::string::npos) << problems;
    }
  }
}

}  // namespace

}  // namespace fennwick
