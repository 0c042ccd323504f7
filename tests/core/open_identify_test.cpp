#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include "port_fixture.h"

namespace fennwick {

namespace {

const std::string kHeading = "========Current MCU Information========\r\nVersion: ";

class OpenAndIdentify : public PortTest {
 protected:
  // An MCU that answers each query after a short delay; nullopt stays silent.
  void Answer(std::optional<std::string> versionReply, std::optional<std::string> descriptionReply) {
    serial.onWrite = [this, versionReply, descriptionReply](const std::vector<uint8_t>& w) {
      if (w == Bytes("$R\r\n") && versionReply) serial.Deliver(*versionReply, 20);
      if (w == Bytes("$e\r\n") && descriptionReply) serial.Deliver(*descriptionReply, 20);
    };
  }
};

TEST_F(OpenAndIdentify, AnsweringMcu) {
  Answer("$R 01V1.2-ABC build 7\r\n", "e: Sample board\r\n");
  // The name is resolved before anything opens: the port given wins, and the device gets it
  // as the path to open, byte for byte (a Linux name need not be UTF-8).
  const std::string given = "run/mcu-\xff-link";
  port.SetGivenPort(given);
  const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
  EXPECT_EQ(id.status, IdentifyOutcome::Status::Identified);
  EXPECT_EQ(serial.openedName, given);
  EXPECT_EQ(id.portPath, given);
  EXPECT_EQ(port.Handle(), serial.handle());
  EXPECT_EQ(Log(), kHeading + "V1.2-ABC build 7\r\n" + "Sample board\r\n");
  EXPECT_STREQ(version, "01V1.2-ABC build 7\r\n");
  EXPECT_EQ(serial.written, Bytes("$R\r\n$e\r\n"));
  ASSERT_EQ(serial.writes.size(), 2u);
  EXPECT_TRUE(id.ran);
  EXPECT_TRUE(id.versionReplied);
  EXPECT_TRUE(id.descriptionReplied);
  EXPECT_EQ(id.version, "V1.2-ABC build 7");
  EXPECT_EQ(id.description, "Sample board");
  EXPECT_LT(clock.Now(), 100u);

  const std::vector<std::string> order = {"Open",         "SetupComm",    "Purge",          "SetCommMask",
                                          "GetCommState", "SetCommState", "SetCommTimeouts"};
  EXPECT_EQ(serial.calls, order);
  EXPECT_EQ(serial.timeouts.ReadIntervalTimeout, 0xFFFFFFFFu);
  EXPECT_EQ(serial.timeouts.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(serial.timeouts.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(serial.timeouts.WriteTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(serial.timeouts.WriteTotalTimeoutConstant, 5000u);
  EXPECT_TRUE(serial.open()) << "the port stays open";
}

struct OpenFailure {
  const char* name;
  bool openFails, failCommMask, failGetState, failSetState;
  const char* log;
  bool closed;  // the device was opened and then closed again
};

class OpenFailures : public OpenAndIdentify, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailures, LogTheirLinesAndLeaveThePortClosed) {
  const OpenFailure& c = GetParam();
  serial.openFails = c.openFails;
  serial.failCommMask = c.failCommMask;
  serial.failGetState = c.failGetState;
  serial.failSetState = c.failSetState;
  Answer("R: V1.2-ABC\r\n", "e: desc\r\n");

  const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
  EXPECT_EQ(Log(), c.log);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(serial.written.empty()) << "no query goes out";
  EXPECT_EQ(version[0], '\0');
  EXPECT_FALSE(id.ran);
  EXPECT_EQ(id.status, c.openFails ? IdentifyOutcome::Status::PortNotOpened : IdentifyOutcome::Status::PortNotSetUp);
  EXPECT_EQ(id.portErrno, c.openFails ? 0 : EIO) << "the system's reason of a refusal";
  EXPECT_FALSE(serial.open());
  const bool closeCalled = std::find(serial.calls.begin(), serial.calls.end(), "Close") != serial.calls.end();
  EXPECT_EQ(closeCalled, c.closed);

  // Afterwards the link is silent and quick.
  run.log.clear();
  static const uint8_t query[] = {'$', 'R', '\r', '\n'};
  EXPECT_EQ(port.WritePort(query, 4), -1);
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 0);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(clock.Now(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    OpenAndIdentify, OpenFailures,
    ::testing::Values(
        OpenFailure{"MissingDevice", true, false, false, false, "Open MCU COM port Error!!!\r\n", false},
        OpenFailure{"EventMaskRefused", false, true, false, false, "SetCommMask error!\r\n", true},
        OpenFailure{"SettingsUnreadable", false, false, true, false,
                    "GetCommState error!\r\nSet COM baudrate Params error!\r\n", true},
        OpenFailure{"SettingsRefused", false, false, false, true,
                    "SetCommState error!\r\nSet COM baudrate Params error!\r\n", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenAndIdentify, ConfigurePortChangesOnlyItsFiveFields) {
  Dcb odd;
  odd.BaudRate = 9600;
  odd.ByteSize = 7;
  odd.Parity = 2;
  odd.StopBits = 2;
  odd.fDtrControl = 2;
  odd.fRtsControl = 2;
  odd.fOutxCtsFlow = true;
  odd.fOutX = true;
  odd.fInX = true;
  serial.state = odd;
  Answer("R: x\r\n", "e: y\r\n");
  ASSERT_TRUE(port.OpenAndIdentify(u"COM2:").ran);

  Dcb expected = odd;
  expected.BaudRate = 19200;
  expected.ByteSize = 8;
  expected.Parity = 0;
  expected.StopBits = 0;
  expected.fDtrControl = 0;
  EXPECT_EQ(serial.applied, expected);

  // Only the low two bits of the DTR control are used.
  EXPECT_EQ(port.ConfigurePort(115200, 7, 1, 2, 0x7), 1);
  expected.BaudRate = 115200;
  expected.ByteSize = 7;
  expected.Parity = 1;
  expected.StopBits = 2;
  expected.fDtrControl = 3;
  EXPECT_EQ(serial.applied, expected);
  EXPECT_EQ(port.ConfigurePort(19200, 8, 0, 0, 0x5), 1);
  EXPECT_EQ(serial.applied.fDtrControl, 1);
}

TEST_F(OpenAndIdentify, SilentMcu) {
  const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
  EXPECT_EQ(Log(), "Response time out\r\n" + kHeading + "Response time out\r\n");
  EXPECT_EQ(version[0], '\0');
  EXPECT_EQ(serial.written, Bytes("$R\r\n$e\r\n"));
  // Two silences of 5,000 ms, each noticed within one more poll.
  EXPECT_GT(clock.Now(), 10000u);
  EXPECT_LE(clock.Now(), 10200u);
  EXPECT_TRUE(id.ran);
  EXPECT_EQ(id.status, IdentifyOutcome::Status::Silent);
  EXPECT_FALSE(id.versionReplied);
  EXPECT_FALSE(id.descriptionReplied);
}

struct VersionCase {
  const char* name;
  std::string reply;
  std::string kept;   // the version text kept
  std::string shown;  // after "Version: "
  std::string compat; // its positions 6 to 8
};

class VersionReplies : public OpenAndIdentify, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionReplies, AreKeptFromByte3AndShownFromByte5) {
  const VersionCase& c = GetParam();
  Answer(c.reply, "e: d\r\n");
  const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
  EXPECT_EQ(std::string(version), c.kept);
  EXPECT_EQ(id.mcuVersion, c.kept);
  EXPECT_EQ(McuVersionOfReply(c.reply), c.kept) << "a version line given by hand is kept alike";
  EXPECT_EQ(Log(), kHeading + c.shown + "d\r\n");
  EXPECT_EQ(std::string(version + 6, 3), c.compat);
}

INSTANTIATE_TEST_SUITE_P(
    OpenAndIdentify, VersionReplies,
    ::testing::Values(VersionCase{"OnlyALineEnd", "\n", "", "", std::string(3, '\0')},
                      VersionCase{"ThreeBytes", "ab\n", "", "", std::string(3, '\0')},
                      VersionCase{"FourBytes", "abc\n", "\n", "", std::string(3, '\0')},
                      VersionCase{"FiveBytes", "abcd\n", "d\n", "", std::string(3, '\0')},
                      VersionCase{"SixBytes", "abcde\n", "de\n", "\n", std::string(3, '\0')},
                      VersionCase{"ElevenBytes", "0123456789\n", "3456789\n", "56789\n", std::string("9\n\0", 3)},
                      VersionCase{"Twelve", "012345678ABC\n", "345678ABC\n", "5678ABC\n", "ABC"},
                      VersionCase{"EightBitText", "R: caf\xE9 \xA7" "1\r\n", "caf\xE9 \xA7" "1\r\n",
                                  "f\xE9 \xA7" "1\r\n", "1\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenAndIdentify, ReidentifyingLeavesNothingOfTheEarlierVersion) {
  Answer("$R 01V9.9-XYZ-long-version\r\n", "e: first\r\n");
  ASSERT_TRUE(port.OpenAndIdentify(u"COM2:").ran);
  run.log.clear();
  Answer("ab\n", "e: second\r\n");
  ASSERT_TRUE(port.OpenAndIdentify(u"COM2:").ran);
  EXPECT_EQ(Log(), kHeading + "second\r\n");
  // Positions 6 to 8 hold the zeros behind the short reply, not the old characters.
  EXPECT_EQ(std::string(version + 6, 3), std::string(3, '\0'));
}

struct DescriptionCase {
  const char* name;
  std::string reply;
  std::string shown;
};

class DescriptionReplies : public OpenAndIdentify, public ::testing::WithParamInterface<DescriptionCase> {};

TEST_P(DescriptionReplies, HashAtByte1MeansNoDescription) {
  Answer("R: V1\r\n", GetParam().reply);
  ASSERT_TRUE(port.OpenAndIdentify(u"COM2:").ran);
  EXPECT_EQ(Log(), kHeading + "\r\n" + GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(OpenAndIdentify, DescriptionReplies,
                         ::testing::Values(DescriptionCase{"Plain", "e: Board 4\r\n", "Board 4\r\n"},
                                           DescriptionCase{"HashAtByte1", "e#: anything\r\n", "No description.\r\n"},
                                           DescriptionCase{"HashOnly", "##\n", "No description.\r\n"},
                                           DescriptionCase{"HashAtByte0", "#e:text\n", "text\n"},
                                           DescriptionCase{"HashAtByte2", "ab#text\n", "text\n"},
                                           DescriptionCase{"HashAtByte3", "abc#text\n", "#text\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(OpenAndIdentify, DescriptionThatNeverComesShowsTheVersionReplyAgain) {
  Answer("$R 01V1.2-ABC\r\n", std::nullopt);
  const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
  EXPECT_EQ(Log(), kHeading + "V1.2-ABC\r\n" + "Response time out\r\n" + "01V1.2-ABC\r\n");
  EXPECT_TRUE(id.versionReplied);
  EXPECT_FALSE(id.descriptionReplied);
}

TEST_F(OpenAndIdentify, VersionReplyWithHashAtByte1ThenSilenceMeansNoDescription) {
  Answer("R#V1.2\r\n", std::nullopt);
  ASSERT_TRUE(port.OpenAndIdentify(u"COM2:").ran);
  EXPECT_EQ(Log(), kHeading + "2\r\n" + "Response time out\r\n" + "No description.\r\n");
}

TEST_F(OpenAndIdentify, VersionLineLongerThanTheLogBufferIsCut) {
  std::string reply = "R: ";
  for (int i = 0; reply.size() < 1020; ++i) reply.push_back(static_cast<char>('A' + i % 26));
  reply += "\r\n";  // 1,022 bytes
  Answer(reply, "e: d\r\n");
  const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
  EXPECT_EQ(std::string(version), reply.substr(3));
  EXPECT_FALSE(id.versionTooLong);
  const std::string line = (kHeading + reply.substr(5)).substr(0, 1023);
  EXPECT_EQ(Log(), line + "d\r\n");
}

TEST_F(OpenAndIdentify, VersionReplyLongerThanTheReplyBuffer) {
  // 1,500 bytes without a line end within the first 1,023: the buffer fills and the
  // wait times out; the rest becomes the start of the next reply.
  std::string reply(1499, 'v');
  reply += "\n";
  Answer(reply, std::nullopt);
  const IdentifyOutcome id = port.OpenAndIdentify(u"COM2:");
  EXPECT_EQ(std::string(version), std::string(1020, 'v'));
  EXPECT_EQ(port.ReplyBuffer()[1023], '\0');
  EXPECT_FALSE(id.versionReplied);
  EXPECT_TRUE(id.versionTooLong);  // it answered: not a silent MCU
  EXPECT_EQ(id.status, IdentifyOutcome::Status::Identified);
  // The remaining 477 bytes end in a line feed and answer the description query.
  EXPECT_TRUE(id.descriptionReplied);
  const std::string log = Log();
  EXPECT_EQ(log.substr(0, 19), "Response time out\r\n");
  EXPECT_EQ(log.substr(log.size() - 5), "vvvv\n");
}

TEST_F(OpenAndIdentify, PortsKeepTheirOwnVersionAndLog) {
  RecordingRun plainRun;

  CMcuPort plain(serial, clock);
  plain.SetObserver(&plainRun);
  Answer("$R 01G1.0-XYZ\r\n", "e: global board\r\n");
  EXPECT_TRUE(plain.OpenAndIdentify(u"COM2:").ran);
  EXPECT_EQ(plainRun.log, kHeading + "G1.0-XYZ\r\n" + "global board\r\n");
  EXPECT_STREQ(plain.McuVersion(), "01G1.0-XYZ\r\n");
  EXPECT_EQ(version[0], '\0') << "another port's version is untouched";
  EXPECT_EQ(Log(), "") << "nothing reaches another port's observer";
}

}  // namespace

}  // namespace fennwick
