#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fakes/fake_files.h"
#include "fakes/temp_dir.h"
#include "platform/system.h"
#include "platform/text.h"

namespace fennwick {

namespace {

namespace fs = std::filesystem;

std::vector<int> Drain(ByteReader& reader, size_t limit = 1 << 20) {
  std::vector<int> out;
  for (size_t i = 0; i < limit; ++i) {
    const int c = reader.Next();
    out.push_back(c);
    if (c < 0) break;
  }
  return out;
}

TEST(ByteReader, HandsOutEveryByteAcrossItsChunksThenTheEnd) {
  std::string data;
  for (int i = 0; i < 20000; ++i) data.push_back(static_cast<char>(i * 7));
  MemoryFile file(data, -1);
  ByteReader reader(file, static_cast<int64_t>(data.size()));
  const std::vector<int> got = Drain(reader);
  ASSERT_EQ(got.size(), data.size() + 1);
  for (size_t i = 0; i < data.size(); ++i) ASSERT_EQ(got[i], static_cast<uint8_t>(data[i])) << i;
  EXPECT_EQ(got.back(), ByteReader::kEnd);
  EXPECT_EQ(reader.Next(), ByteReader::kEnd) << "and stays at the end";
  EXPECT_FALSE(reader.failed());
}

TEST(ByteReader, StopsAtTheLimitAndReportsReadErrors) {
  const std::string data(10000, 'x');
  {
    MemoryFile file(data, -1);
    ByteReader reader(file, 9000);
    EXPECT_EQ(Drain(reader).size(), 9001u);
  }
  for (int64_t failAt : {0, 100, 8192, 8193}) {
    SCOPED_TRACE(failAt);
    MemoryFile file(data, failAt);
    ByteReader reader(file, static_cast<int64_t>(data.size()));
    const std::vector<int> got = Drain(reader);
    EXPECT_EQ(got.size(), static_cast<size_t>(failAt) + 1);
    EXPECT_EQ(got.back(), ByteReader::kError);
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.Next(), ByteReader::kError);
  }
  MemoryFile file(data, -1);
  ByteReader negative(file, -5);
  EXPECT_EQ(negative.Next(), ByteReader::kEnd);
}

class PosixFiles : public ::testing::Test {
 protected:
  std::u16string Path(const std::string& utf8Name) {
    std::u16string p;
    EXPECT_TRUE(Utf8ToUtf16((dir_ / utf8Name).string(), p));
    return p;
  }
  TempDir tmp_;
  const fs::path dir_{tmp_.path};
};

TEST_F(PosixFiles, OpensAndReadsANonAsciiName) {
  const std::string name = "fw-\xC3\xA9\xE2\x82\xAC.s19";  // UTF-8 on this side
  std::ofstream(dir_ / name, std::ios::binary) << std::string("S1\r\n\0\xFF", 6);
  std::unique_ptr<IFile> file = SystemFileSystem().OpenRead(Path(name));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->Length(), 6);
  uint8_t buf[16];
  EXPECT_EQ(file->Read(buf, sizeof buf), 6);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 6), std::string("S1\r\n\0\xFF", 6));
  EXPECT_EQ(file->Read(buf, sizeof buf), 0);
}

TEST_F(PosixFiles, WhatCannotBeOpenedGivesNoFile) {
  SystemFileSystem fsys;
  EXPECT_FALSE(fsys.OpenRead(Path("missing.s19")));
  EXPECT_FALSE(fsys.OpenRead(Path(""))) << "a directory";
  EXPECT_FALSE(fsys.OpenRead(u""));
  const std::u16string loneSurrogate = u"fw-" + std::u16string(1, char16_t(0xD800)) + u".s19";
  EXPECT_FALSE(fsys.OpenRead(loneSurrogate));
}

TEST(Text, Windows1252RoundTripsEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string wide = Cp1252ToUtf16(all);
  ASSERT_EQ(wide.size(), 256u);
  EXPECT_EQ(wide[0x80], u'\u20AC');
  EXPECT_EQ(Utf16ToCp1252(wide), all);
  EXPECT_EQ(Utf16ToCp1252(u"\u4E2D"), "?") << "outside the code page";
  // Plain ASCII, and text where one byte past it follows ASCII, convert alike.
  EXPECT_TRUE(Cp1252ToUtf16("MCU: \x7F\x80") == u"MCU: \u007F\u20AC");
  EXPECT_EQ(Utf16ToCp1252(u"MCU: \u20AC"), "MCU: \x80");
}

TEST(Text, Utf8AndUtf16) {
  std::u16string wide;
  ASSERT_TRUE(Utf8ToUtf16("COM2: \xC3\xA9\xF0\x9F\x98\x80", wide));
  EXPECT_TRUE(wide == u"COM2: \u00E9\U0001F600");
  std::string narrow;
  ASSERT_TRUE(Utf16ToUtf8(wide, narrow));
  EXPECT_EQ(narrow, "COM2: \xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_FALSE(Utf8ToUtf16("bad \xC3", wide));
  EXPECT_FALSE(Utf8ToUtf16("bad \xFF\xFE", wide));
}

}  // namespace

}  // namespace fennwick
