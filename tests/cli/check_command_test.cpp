// `check` and the check before programming, on real files: the report's lines, the exit
// codes, refusal and --force, and the Intel HEX helpers for program and examine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/check_command.h"
#include "platform/text.h"

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
    std::string pattern = (fs::temp_directory_path() / "fennwick-check-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    out_ = std::tmpfile();
    err_ = std::tmpfile();
    ASSERT_TRUE(out_ && err_);
  }
  void TearDown() override {
    if (out_) std::fclose(out_);
    if (err_) std::fclose(err_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
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

  fs::path dir_;
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
  const std::vector<uint8_t> block = {'$', 'F', 'N', 'W', 'K', '-', '1', '0', '7', '"', 0x01, 0};
  const std::string file =
      Write("fw.ihx", Ihx(0, 0x8100, block) + ":0182000001FF\n" + Ihx(1, 0, {}) + Ihx(0, 0x8100, {1}));
  EXPECT_EQ(RunCheck(out_, err_, file), kExitFileProblems);
  const std::string out = Out();
  EXPECT_NE(out.find("format: Intel HEX\nlines: 4\ndata: 0x08100-0x0810B, 12 bytes\ndata: 0x08200-0x08200, 1 byte\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("description: \"$FNWK-107\\\"\\x01\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("description: second text \"\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("description: compatibility \"107\"\n"), std::string::npos) << out;
  EXPECT_NE(out.find("line 2: checksum 0xFF, expected 0x7C\nline 4: data after the end-of-file record of line 3; not read\n"
                     "result: 2 problems\n"),
            std::string::npos)
      << out;
}

TEST_F(CheckCommand, UnreadableFiles) {
  EXPECT_EQ(RunCheck(out_, err_, (dir_ / "missing.s19").string()), kExitFile);
  EXPECT_EQ(RunCheck(out_, err_, dir_.string()), kExitFile);
  EXPECT_EQ(Out(), "");
  const std::string err = Err();
  EXPECT_NE(err.find("missing.s19: No such file or directory\n"), std::string::npos) << err;
  EXPECT_NE(err.find("Is a directory\n"), std::string::npos) << err;
}

TEST_F(CheckCommand, PrecheckRefusesUnlessForced) {
  const std::string clean = Write("clean.s19", kS19);
  const std::string broken = Write("broken.s19", kS19 + "S1048000FF\n");
  EXPECT_EQ(PrecheckFile(err_, clean, false), PrecheckResult::Clean);
  EXPECT_EQ(Err(), "");
  EXPECT_EQ(PrecheckFile(err_, broken, false), PrecheckResult::Refused);
  EXPECT_EQ(PrecheckFile(err_, broken, true), PrecheckResult::Forced);
  EXPECT_EQ(PrecheckFile(err_, (dir_ / "none").string(), true), PrecheckResult::Unreadable);
  const std::string err = Err();
  EXPECT_NE(err.find("broken.s19 line 3: count 0x04 does not match the 3 bytes that follow it\n"), std::string::npos) << err;
  EXPECT_NE(err.find("not programmed (give --force"), std::string::npos) << err;
  EXPECT_NE(err.find("warning: " + broken + " has 1 problem; programming it anyway"), std::string::npos) << err;
}

TEST_F(CheckCommand, IntelHexHelpers) {
  const std::string hex = Ihx(0, 0x8000, {1, 2, 3}) + Ihx(1, 0, {});
  // By content, not by name.
  EXPECT_TRUE(IsIntelHex(Write("fw.s19", "\r\n" + hex)));
  EXPECT_FALSE(IsIntelHex(Write("fw.hex", kS19)));
  EXPECT_FALSE(IsIntelHex((dir_ / "none.hex").string()));

  FirmwareReport report;
  std::string whyNot;
  ASSERT_TRUE(ReadFirmwareFile(Write("fw.ihx", hex), report, whyNot));
  EXPECT_EQ(report.lineCount, 2);
  EXPECT_EQ(report.image[2], 3);
  EXPECT_FALSE(ReadFirmwareFile((dir_ / "none.ihx").string(), report, whyNot));
  EXPECT_NE(whyNot.find("No such file"), std::string::npos);

  // The loader refuses a damaged file unless told to accept it.
  std::vector<uint8_t> image(kImageSize);
  for (bool accept : {false, true}) {
    const std::string path = Write("bad.ihx", Ihx(0, 0x8000, {1}));  // no end record
    std::u16string wide;
    ASSERT_TRUE(Utf8ToUtf16(path, wide));
    std::unique_ptr<IFile> f = DefaultFileSystem().OpenRead(wide);
    ASSERT_TRUE(f);
    EXPECT_EQ(MakeIntelHexLoader(accept)(*f, image.data(), nullptr).readError, !accept);
    EXPECT_EQ(image[0], 1);
  }
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
    EXPECT_EQ(ResolveFormat(path, options), c.expected) << c.name;
    FirmwareReport report;
    std::string whyNot;
    ASSERT_TRUE(ReadFirmwareFile(path, report, whyNot, options)) << c.name;
    EXPECT_EQ(report.format, c.expected) << c.name;
  }
  // Garbage without a binary's name is a file with problems, not a binary.
  EXPECT_EQ(RunCheck(out_, err_, Write("fw.dat", std::string("\x01\x02garbage", 9))), kExitFileProblems);
}

TEST_F(CheckCommand, RawBinaryFillsTheFlashFromItsBaseAndMustFit) {
  std::string bytes(0x300, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + 1);
  FileOptions options;
  options.base = 0x8100;
  FirmwareReport report;
  std::string whyNot;
  ASSERT_TRUE(ReadFirmwareFile(Write("part.bin", bytes), report, whyNot, options));
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
                        Case{0x101, 0x27F00, false}}) {
    options.base = c.base;
    const std::string path = Write("big.bin", std::string(c.size, '\x5A'));
    ASSERT_TRUE(ReadFirmwareFile(path, report, whyNot, options));
    EXPECT_EQ(report.HasProblems(), !c.fits) << c.size;
    const PrecheckResult pre = PrecheckFile(err_, path, true, options);
    EXPECT_EQ(pre, c.fits ? PrecheckResult::Clean : PrecheckResult::TooLong) << c.size;
    std::vector<uint8_t> image(kImageSize, 1);
    std::u16string wide;
    ASSERT_TRUE(Utf8ToUtf16(path, wide));
    std::unique_ptr<IFile> f = DefaultFileSystem().OpenRead(wide);
    ASSERT_TRUE(f);
    EXPECT_EQ(LoaderFor(FirmwareFormat::Binary, options, true)(*f, image.data(), nullptr).readError, !c.fits);
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
