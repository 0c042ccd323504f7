#include <gtest/gtest.h>

#include "sim/stm8_image.h"

namespace fennwick::sim::testing {
namespace {

TEST(Stm8Image, S19AndIntelHexOfTheSameBytesAgreeAndSurviveTheSimulatorsHex) {
  // Three bytes at 0x8100 and two above 64 KiB, in both formats.
  const std::string s19 = "S0030000FC\r\nS1068100AABBCC47\r\nS2060100001122C5\r\nS9038000 7C\r\n";
  const std::string hex = ":038100 00AABBCC 4B\n:020000040001F9\n:02000000112 2CB\n:00000001FF\n";
  auto strip = [](std::string t) { return std::erase(t, ' '), t; };
  std::string error;
  const auto fromS19 = ReadFirmwareText(strip(s19), error);
  ASSERT_TRUE(fromS19) << error;
  const auto fromHex = ReadFirmwareText(strip(hex), error);
  ASSERT_TRUE(fromHex) << error;
  const SparseImage expected = {{0x8100, 0xAA}, {0x8101, 0xBB}, {0x8102, 0xCC}, {0x10000, 0x11}, {0x10001, 0x22}};
  EXPECT_EQ(*fromS19, expected);
  EXPECT_EQ(*fromHex, expected);
  const auto again = ReadFirmwareText(ToIntelHex(expected), error);
  ASSERT_TRUE(again) << error;
  EXPECT_EQ(*again, expected);
}

TEST(Stm8Image, BrokenFilesAreRefusedWithTheirLine) {
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "neither an S19 nor an Intel HEX file"},
      {"hello\n", "neither an S19 nor an Intel HEX file"},
      {"S0030000FC\nS1068100AABBCC48\n", "line 2: bad checksum"},
      {"S1068100AABBCC47\nS1048101AACF\n", "line 2: bytes given twice"},
      {"S1068100AABB\n", "line 1: bad record length"},
      {"S1068100AABBCC47\n:00000001FF\n", "line 2: not a record"},
      {":03810000AABBCC4B\n", "no end record"},
      {"S0030000FC\nS90380007C\n", "no data"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ReadFirmwareText(c.text, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(Stm8Image, ConsoleDumpIsReadPastColoursAndAnAsciiColumnThatLooksLikeBytes) {
  std::string text = "\x1b[0m3> dump /h rom 0x8000 0x801f 16\r\n";
  text += "0x08000 41 42 20 43 00 00 00 00 00 00 00 00 00 00 00 00 AB C............\r\n";
  text += "\x1b[32m0x08010 ff 00 00 00 00 00 00 00 00 00 00 00 00 00 00 12 ...............\x1b[0m\r\n3> ";
  const auto flash = ParseConsoleDump(text, 0x8000, 32);
  ASSERT_TRUE(flash);
  EXPECT_EQ((*flash)[0], 0x41);
  EXPECT_EQ((*flash)[3], 0x43);
  EXPECT_EQ((*flash)[16], 0xFF);
  EXPECT_EQ((*flash)[31], 0x12);
  EXPECT_FALSE(ParseConsoleDump(text, 0x8000, 33)) << "a byte that was not listed";
}

}  // namespace
}  // namespace fennwick::sim::testing
