#include <gtest/gtest.h>

#include <sstream>

#include "sim/text_escape.h"
#include "sim_test_support.h"

namespace fennwick::sim::testing {

namespace {

ParsedOptions Parse(const std::vector<std::string>& args, std::string* outText = nullptr,
                    std::string* errText = nullptr) {
  std::vector<const char*> argv{"fennwick-mcu-sim"};
  for (const auto& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  auto parsed = ParseSimOptions(static_cast<int>(argv.size()), argv.data(), out, err);
  if (outText) *outText = out.str();
  if (errText) *errText = err.str();
  return parsed;
}

}  // namespace

McuConfig ConfigFrom(const std::vector<std::string>& args) {
  std::string err;
  auto parsed = Parse(args, nullptr, &err);
  EXPECT_TRUE(parsed.options) << err;
  return parsed.options ? parsed.options->mcu : McuConfig{};
}

TEST(SimOptions, DefaultVersionSuitsTheSampleFirmware) {
  auto parsed = Parse({});
  ASSERT_TRUE(parsed.options);
  // The host reads bytes 9..11 of the version reply as its compatibility characters.
  const Bytes& version = parsed.options->mcu.versionReply;
  ASSERT_GE(version.size(), 12u);
  EXPECT_EQ(std::string(version.begin() + 9, version.begin() + 12), "107");
}

TEST(SimOptions, FaultsAndRepeatsAreCollected) {
  auto parsed = Parse({"--drop-reply", "3", "--drop-reply", "7", "--delay-reply", "5:250",
                       "--delay-reply", "5:50", "--delay-reply", "9:0", "--hang-after", "12",
                       "--hangup-after", "1023", "--noise", "--flash-ms", "0", "--baud", "0",
                       "--once", "--link", "x/tty", "--dump", "x/flash.bin", "--reply-latency-ms", "16"});
  ASSERT_TRUE(parsed.options);
  const McuConfig& c = parsed.options->mcu;
  EXPECT_EQ(c.dropReply, (std::set<std::size_t>{3, 7}));
  EXPECT_EQ(c.delayReply, (std::map<std::size_t, Millis>{{5, Millis(300)}, {9, Millis(0)}}));
  EXPECT_EQ(c.hangAfter, (std::set<std::size_t>{12}));
  EXPECT_EQ(c.hangupAfter, (std::set<std::size_t>{1023}));
  EXPECT_TRUE(c.noise);
  EXPECT_EQ(c.flashTime, Millis(0));
  EXPECT_EQ(parsed.options->baud, 0u);
  EXPECT_TRUE(parsed.options->once);
  EXPECT_EQ(parsed.options->linkPath, "x/tty");
  EXPECT_EQ(parsed.options->dumpPath, "x/flash.bin");
  EXPECT_EQ(parsed.options->replyLatency, Millis(16));
}

TEST(SimOptions, BadOptionsExitTwoWithAMessage) {
  const std::vector<std::vector<std::string>> cases = {
      {"--iap-reply", "#no"},
      {"--iap-reply", "\\x23escaped hash"},
      {"--version-reply", "bad \\q escape"},
      {"--version-reply", "trailing \\"},
      {"--description", "\\xZZ"},
      {"--description", "x", "--no-description"},
      {"--drop-reply", "1024"},
      {"--drop-reply", "-1"},
      {"--hang-after", "many"},
      {"--delay-reply", "5"},
      {"--delay-reply", "x:5"},
      {"--delay-reply", "5:"},
      {"--delay-reply", "2000:5"},
      {"--baud", "fast"},
      {"--flash-ms", "-3"},
      {"--reply-latency-ms", "60001"},
      {"--link", ""},
      {"--dump", ""},
      {"--bogus"},
      {"stray"},
  };
  for (const auto& args : cases) {
    std::string err;
    auto parsed = Parse(args, nullptr, &err);
    EXPECT_FALSE(parsed.options) << args[0];
    EXPECT_EQ(parsed.exitCode, 2) << args[0];
    EXPECT_NE(err.find("fennwick-mcu-sim: "), std::string::npos) << args[0] << ": " << err;
  }
}

TEST(SimOptions, HelpNamesEveryOptionAndExitsZero) {
  std::string out;
  auto parsed = Parse({"--help"}, &out);
  EXPECT_FALSE(parsed.options);
  EXPECT_EQ(parsed.exitCode, 0);
  for (const char* name : {"--version-reply", "--description", "--no-description", "--silent",
                           "--iap-reply", "--refuse-iap", "--block-reply", "--flash-ms",
                           "--drop-reply", "--delay-reply", "--noise", "--hang-after",
                           "--hangup-after", "--baud", "--verbose", "--link", "--dump", "--once"}) {
    EXPECT_NE(out.find(name), std::string::npos) << name;
  }
}

TEST(SimOptions, VersionPrintsTheProgramsVersionAndExitsZero) {
  std::string out;
  auto parsed = Parse({"--version"}, &out);
  EXPECT_FALSE(parsed.options);
  EXPECT_EQ(parsed.exitCode, 0);
  EXPECT_EQ(out.rfind("fennwick-mcu-sim ", 0), 0u) << out;
}

TEST(SimOptions, BlockReplyWithoutFinalDotIsKeptButWarned) {
  std::string err;
  auto parsed = Parse({"--block-reply", "ok"}, nullptr, &err);
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->mcu.blockReply, BytesOf("ok"));
  EXPECT_NE(err.find("warning"), std::string::npos);
}

TEST(TextEscape, Decodes) {
  struct Case {
    std::string in;
    Bytes out;
  };
  const std::vector<Case> cases = {
      {"plain", BytesOf("plain")},
      {"a\\r\\n", BytesOf("a\r\n")},
      {"\\t\\\\", BytesOf("\t\\")},
      {"\\x41\\x4", Bytes{0x41, 0x04}},
      {"\\x41B", BytesOf("AB")},
      {"\\xff\\x00", Bytes{0xff, 0x00}},
      {"", Bytes{}},
  };
  for (const auto& c : cases) {
    std::string error;
    auto got = DecodeEscapes(c.in, error);
    ASSERT_TRUE(got) << c.in << ": " << error;
    EXPECT_EQ(*got, c.out) << c.in;
  }
}

TEST(TextEscape, LinesGetOneTerminator) {
  EXPECT_EQ(TerminatedLine(BytesOf("x")), BytesOf("x\r\n"));
  EXPECT_EQ(TerminatedLine(BytesOf("x\n")), BytesOf("x\n"));
  EXPECT_EQ(TerminatedLine(BytesOf("x\r\n")), BytesOf("x\r\n"));
  EXPECT_EQ(TerminatedLine(Bytes{}), BytesOf("\r\n"));
}

}  // namespace fennwick::sim::testing
