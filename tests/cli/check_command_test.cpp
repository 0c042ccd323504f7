// `check` and the check before programming, on real files: the report's lines, the exit
// codes, refusal and --force, and the Intel HEX helpers for program and examine.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/verbs/check_command.h"
#include "fakes/temp_dir.h"
#include "platform/text.h"

namespace fennwick {

namespace fs = std::filesystem;

namespace {

// A checksum-correct Intel HEX record.
std::string Ihx(uint8_t type, uint16_t offset, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8),
                                static_cast<uint8_t>(offset), type};
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  bytes.push_back(static_cast<uint8_t>(-sum));
  std::string line = ":";
  char hex[3];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line + "\n";
}

// An S1 record at 0x8000 with the bytes 0 to 15, and the end record.
const std::string kS19 = "S1138000000102030405060708090A0B0C0D0E0FF4\nS9030000FC\n";

class CheckCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    out_ = std::tmpfile();
    err_ = std::tmpfile();
    ASSERT_TRUE(out_ && err_);
  }
  void TearDown() override {
    if (out_) std::fclose(out_);
    if (err_) std::fclose(err_);
  }
  std::string Write(const std::string& name, const std::string& text) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  static std::string Read(std::FILE* f) {
    std::string s;
    std::rewind(f);
    for (int c; (c = std::fgetc(f)) != EOF;) s += static_cast<char>(c);
    return s;
  }
  std::string Out() { return Read(out_); }
  std::string Err() { return Read(err_); }

  TempDir tmp_;
  const fs::path dir_{tmp_.path};
  std::FILE* out_ = nullptr;
  std::FILE* err_ = nullptr;
};

TEST_F(CheckCommand, CleanFileReport) {
  const std::string file = Write("fw.s19", kS19);
  EXPECT_EQ(RunCheck(out_, err_, file), 0);
  std::vector<uint8_t> image(kImageSize, 0);
  for (int i = 0; i < 16; ++i) image[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
  char crc[32];
  std::snprintf(crc, sizeof crc, "crc32: 0x%08X\n", ImageCrc32(image.data()));
  EXPECT_EQ(Out(), std::string("format: S19\n"
                               "lines: 2\n"
                               "data: 0x08000-0x0800F, 16 bytes\n"
                               "description: none (no '$' at 0x8100)\n") +
                       crc + "result: no problems\n");
  EXPECT_EQ(Err(), "");
}

TEST_F(CheckCommand, ProblemsAndDescription) {
  const std::vector<uint8_t> block = {'$', 'F', 'N', 'W', 'K', '-', '1', '0', '7', '"', 0x01, 0xC3, 0xA9, 0};
  const std::string file =
      Write("fw.ihx", Ihx(0, 0x8100, block) + ":0182000001FF\n" + Ihx(1, 0, {}) + Ihx(0, 0x8100, {1}));
  EXPECT_EQ(RunCheck(out_, err_, file), kExitFileProblems);
  const std::string out = Out();
  EXPECT_NE(out.find("format: Intel HEX\nlines: 4\ndata: 0x08100-0x0810D, 14 bytes\ndata: 0x08200-0x08200, 1 byte\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("description: \"$FNWK-107\\\"\\x01\\xC3\\xA9\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("description: second text \"\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("description: compatibility \"107\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("line 2: checksum 0xFF, expected 0x7C\nline 4: data after the end-of-file record of line 3; not read\n"
                     "result: 2 problems\n"),
            std::string::npos)
      << out;
}

// Only a regular file is read, and at once: a FIFO would block the open, a device has no
// end. Every name Linux allows works, UTF-8 or not.
TEST_F(CheckCommand, WhatCanBeReadAndWhatIsRefused) {
  const std::string fifo = (dir_ / "fw.fifo").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string big = Write("big.s19", "");
  fs::resize_file(big, (64u << 20) + 1);  // sparse
  const std::string latin1 = Write("fw\xFF\xE9.s19", kS19);
  struct Case {
    std::string file;
    int code;
    const char* err;  // the end of the message
  };
  const Case cases[] = {
      {(dir_ / "missing.s19").string(), kExitFile, ": No such file or directory\n"},
      {dir_.string(), kExitFile, ": is a directory\n"},
      {fifo, kExitFile, ": is not a regular file (a FIFO)\n"},
      {"/dev/null", kExitFile, ": is not a regular file (a device)\n"},
      {big, kExitFile, ": is larger than 67108864 bytes, too large for a firmware file\n"},
      {latin1, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::FILE* err = std::tmpfile();
    EXPECT_EQ(RunCheck(out_, err, c.file), c.code);
    const std::string text = Read(err);
    std::fclose(err);
    EXPECT_EQ(text, c.code == 0 ? "" : "fennwick-cli: cannot read " + c.file + c.err);
  }
}

TEST_F(CheckCommand, PrecheckRefusesUnlessForced) {
  const std::string broken = Write("broken.s19", kS19 + "S1048000FF\n");
  LoadedFirmware clean, bad;
  std::string whyNot;
  ASSERT_TRUE(ReadFirmwareArgument(Write("clean.s19", kS19), clean, whyNot));
  ASSERT_TRUE(ReadFirmwareArgument(broken, bad, whyNot));
  EXPECT_EQ(PrecheckFirmware(err_, "clean.s19", clean.report, false), PrecheckResult::Clean);
  EXPECT_EQ(Err(), "");
  EXPECT_EQ(PrecheckFirmware(err_, broken, bad.report, false), PrecheckResult::Refused);
  EXPECT_EQ(PrecheckFirmware(err_, broken, bad.report, true), PrecheckResult::Forced);
  const std::string err = Err();
  EXPECT_NE(err.find("broken.s19 line 3: count 0x04 does not match the 3 bytes that follow it\n"), std::string::npos) << err;
  EXPECT_NE(err.find("not programmed (give --force"), std::string::npos) << err;
  // The loader takes a byte of the short record's own text as data: that is a problem too.
  EXPECT_NE(err.find("broken.s19 line 3: the programming run writes other data at 0x08000-0x08000 than line 1 gives"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("warning: " + broken + " has 2 problems; programming it anyway"), std::string::npos) << err;
}

// A file cut short may be forced; an image without a single data byte never is, whatever
// its format: it would only erase the flash.
TEST_F(CheckCommand, CutShortFilesNeedForceAndEmptyImagesAreNeverProgrammed) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"cut.s19", kS19.substr(0, kS19.find("S9"))}, {"end.s19", "S9030000FC\n"}, {"end.hex", Ihx(1, 0, {})}};
  for (const auto& [name, text] : files) {
    LoadedFirmware firmware;
    std::string whyNot;
    ASSERT_TRUE(ReadFirmwareArgument(Write(name, text), firmware, whyNot));
    const bool cut = name == "cut.s19";
    EXPECT_EQ(PrecheckFirmware(err_, name, firmware.report, true),
              cut ? PrecheckResult::Forced : PrecheckResult::Unflashable) << name;
  }
  const std::string err = Err();
  EXPECT_NE(err.find("cut.s19 file: no end record"), std::string::npos) << err;
  EXPECT_NE(err.find("end.hex holds no data for the flash: nothing to program; not programmed"), std::string::npos);
}

TEST_F(CheckCommand, ReadFirmwareTellsTheFormatByContentAndKeepsTheBytes) {
  const std::string hex = Ihx(0, 0x8000, {1, 2, 3}) + Ihx(1, 0, {});
  LoadedFirmware firmware;
  std::string whyNot;
  ASSERT_TRUE(ReadFirmwareArgument(Write("fw.s19", "\r\n" + hex), firmware, whyNot));
  EXPECT_EQ(firmware.format(), FirmwareFormat::IntelHex);
  EXPECT_EQ(*firmware.bytes, "\r\n" + hex);
  EXPECT_EQ(firmware.report.lineCount, 3);
  EXPECT_EQ(firmware.image()[2], 3);
  EXPECT_EQ(firmware.crc32(), ImageCrc32(firmware.image().data()));
  ASSERT_TRUE(ReadFirmwareArgument(Write("fw.hex", kS19), firmware, whyNot));
  EXPECT_EQ(firmware.format(), FirmwareFormat::S19);
  EXPECT_FALSE(ReadFirmwareArgument((dir_ / "none.ihx").string(), firmware, whyNot));
  EXPECT_NE(whyNot.find("No such file"), std::string::npos);
}

// A raw image is taken by name or by the user's word only; content never makes one, so a
// damaged S19 or HEX file stays an error.
TEST_F(CheckCommand, FormatComesFromTheOptionThenTheNameThenTheContent) {
  const std::string hex = Ihx(0, 0x8000, {1, 2, 3}) + Ihx(1, 0, {});
  struct Case {
    const char* name;
    std::string content;
    FirmwareFormat asked;
    FirmwareFormat expected;
  };
  const std::vector<Case> cases = {
      {"fw.bin", kS19, FirmwareFormat::Unknown, FirmwareFormat::Binary},
      {"FW.BIN", hex, FirmwareFormat::Unknown, FirmwareFormat::Binary},
      {"fw.dat", std::string("\x01\x02garbage", 9), FirmwareFormat::Unknown, FirmwareFormat::Unknown},
      {"broken.s19", "S1zz\n", FirmwareFormat::Unknown, FirmwareFormat::S19},
      {"fw.dat", kS19, FirmwareFormat::Binary, FirmwareFormat::Binary},
      {"fw.bin", hex, FirmwareFormat::IntelHex, FirmwareFormat::IntelHex},
  };
  for (const Case& c : cases) {
    const std::string path = Write(c.name, c.content);
    FileOptions options;
    options.format = c.asked;
    LoadedFirmware firmware;
    std::string whyNot;
    ASSERT_TRUE(ReadFirmwareArgument(path, firmware, whyNot, options)) << c.name;
    EXPECT_EQ(firmware.format(), c.expected) << c.name;
  }
  // Garbage without a binary's name is a file with problems, not a binary.
  EXPECT_EQ(RunCheck(out_, err_, Write("fw.dat", std::string("\x01\x02garbage", 9))), kExitFileProblems);
}

TEST_F(CheckCommand, RawBinaryFillsTheFlashFromItsBaseAndMustFit) {
  std::string bytes(0x300, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 1);
  FileOptions options;
  options.base = 0x8100;
  LoadedFirmware firmware;
  std::string whyNot;
  ASSERT_TRUE(ReadFirmwareArgument(Write("part.bin", bytes), firmware, whyNot, options));
  const FirmwareReport& report = firmware.report;
  EXPECT_EQ(report.image[0xFF], 0);
  EXPECT_EQ(report.image[0x100], 1);
  EXPECT_EQ(report.image[0x3FF], static_cast<uint8_t>(0x2FF * 7 + 1));
  EXPECT_EQ(report.image[0x400], 0);
  ASSERT_EQ(report.ranges.size(), 1u);
  EXPECT_EQ(report.ranges[0], (DataRange{0x8100, 0x83FF}));
  EXPECT_FALSE(report.HasProblems());
  EXPECT_EQ(report.crc32, ImageCrc32(report.image.data()));

  // The flash holds 0x20000 bytes from 0x8000: one more, or a base that leaves less room,
  // is refused with its own message, even with --force, and nothing is loaded.
  struct Case {
    size_t size;
    uint32_t base;
    bool fits;
  };
  for (const Case& c : {Case{0x20000, 0x8000, true}, Case{0x20001, 0x8000, false}, Case{0x100, 0x27F00, true},
                        Case{0x101, 0x27F00, false}, Case{0, 0x8000, false}}) {
    options.base = c.base;
    const std::string path = Write("big.bin", std::string(c.size, '\x5A'));
    ASSERT_TRUE(ReadFirmwareArgument(path, firmware, whyNot, options));
    EXPECT_EQ(firmware.report.HasProblems(), !c.fits) << c.size;
    const PrecheckResult pre = PrecheckFirmware(err_, path, firmware.report, true);
    EXPECT_EQ(pre, c.fits ? PrecheckResult::Clean : PrecheckResult::Unflashable) << c.size;
    std::vector<uint8_t> image(kImageSize, 1);
    std::u16string wide;
    ASSERT_TRUE(Utf8ToUtf16(path, wide));
    std::unique_ptr<IFile> f = DefaultFileSystem().OpenRead(wide);
    ASSERT_TRUE(f);
    EXPECT_EQ(LoadBinaryImage(*f, image.data(), c.base).readError, !c.fits);
  }
  EXPECT_NE(Err().find("big.bin does not fit the flash: 131073 bytes from 0x08000 run past the flash's end at "
                       "0x27FFF; 131072 bytes fit; not programmed"),
            std::string::npos)
      << Err();

  uint32_t base = 0;
  for (const char* bad : {"", "0x7FFF", "0x28000", "-1", "0x8000x", "abc", "99999999999999999999"}) {
    EXPECT_FALSE(ParseFlashAddress(bad, base)) << bad;
  }
  ASSERT_TRUE(ParseFlashAddress("0x27FFF", base));
  EXPECT_EQ(base, 0x27FFFu);
  ASSERT_TRUE(ParseFlashAddress("32768", base));
  EXPECT_EQ(base, 0x8000u);
}

}  // namespace

}  // namespace fennwick
