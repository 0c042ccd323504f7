#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "port_fixture.h"

namespace fennwick {

namespace {

class ReadReply : public PortTest {
 protected:
  void SetUp() override { OpenDirect(); }
};

TEST_F(ReadReply, ChunksAreCollectedUntilOneEndsInTheTerminator) {
  serial.Deliver("ab", 10);
  serial.Deliver("cd", 60);
  serial.Deliver("e\n", 400);
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 1);
  EXPECT_EQ(Reply(), "abcde\n");
  EXPECT_EQ(port.ReplyBuffer()[6], '\0');
  EXPECT_EQ(Log(), "");
  // The end is noticed when it arrives, not at the next 100 ms poll.
  EXPECT_EQ(clock.Now(), 400u);
}

TEST_F(ReadReply, TerminatorInsideAChunkDoesNotEndTheReply) {
  serial.Deliver("ab\ncd", 10);
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 0);
  EXPECT_EQ(Log(), "Response time out\r\n");
  EXPECT_GT(clock.Now(), 10u + 5000u);
  EXPECT_LE(clock.Now(), 10u + 5000u + 100u);

  serial.Deliver("ab\ncd", 10);
  serial.Deliver("\n", 900);
  run.log.clear();
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 1);
  EXPECT_EQ(Reply(), "ab\ncd\n");
  EXPECT_EQ(Log(), "");
}

TEST_F(ReadReply, TerminatorIsComparedAsAnUnsignedByte) {
  serial.Deliver(std::string("caf\xE9", 4), 5);
  EXPECT_EQ(port.ReadReply(5000, 0, 0xE9), 1);
  EXPECT_EQ(Reply(), "caf\xE9");

  serial.Deliver("block reply.", 5);
  EXPECT_EQ(port.ReadReply(120000, 0, '.'), 1);
  EXPECT_EQ(Reply(), "block reply.");
}

TEST_F(ReadReply, BytesAfterACompletedReplyStayQueuedForTheNext) {
  serial.Deliver("one\n", 10);
  serial.Deliver("two\n", 20);
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 1);
  EXPECT_EQ(Reply(), "one\n");
  EXPECT_EQ(serial.Pending(), 4u);
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 1);
  EXPECT_EQ(Reply(), "two\n");
}

// The silence allowed is measured from the last byte: a gap of exactly the time-out is
// still waited for, one millisecond more is not.
struct GapCase {
  const char* name;
  uint32_t timeoutMs;
  uint64_t gapMs;
  int result;
};

class ReadReplyGap : public ReadReply, public ::testing::WithParamInterface<GapCase> {};

TEST_P(ReadReplyGap, SilenceIsCountedFromTheLastByte) {
  const GapCase& c = GetParam();
  serial.Deliver("start", 30);
  serial.Deliver("end\n", 30 + c.gapMs);
  EXPECT_EQ(port.ReadReply(c.timeoutMs, 0, '\n'), c.result);
  if (c.result == 1) {
    EXPECT_EQ(Reply(), "startend\n");
    EXPECT_EQ(Log(), "");
  } else {
    EXPECT_EQ(Log(), "Response time out\r\n");
    EXPECT_GT(clock.Now(), 30 + c.timeoutMs);
    EXPECT_LE(clock.Now(), 30 + c.timeoutMs + 100);
    EXPECT_EQ(serial.Pending(), 4u) << "the rest stays queued";
  }
}

INSTANTIATE_TEST_SUITE_P(ReadReply, ReadReplyGap,
                         ::testing::Values(GapCase{"ShortGap", 5000, 40, 1},
                                           GapCase{"GapOfExactlyTheTimeOut", 5000, 5000, 1},
                                           GapCase{"GapOneMsLonger", 5000, 5001, 0},
                                           GapCase{"PauseLongerThanTimeOutMidReply", 5000, 7000, 0},
                                           GapCase{"BlockWait", 120000, 119000, 1},
                                           GapCase{"BlockWaitExceeded", 120000, 120001, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReadReply, ReplyThatKeepsComingIsWaitedForBeyondTheTimeOut) {
  // 40 chunks, 4,000 ms apart: 156 s in all against a 5,000 ms time-out.
  for (int i = 0; i < 40; ++i) serial.Deliver("x", 10 + 4000u * static_cast<uint64_t>(i));
  serial.Deliver("\n", 10 + 4000u * 40);
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 1);
  EXPECT_EQ(Reply(), std::string(40, 'x') + "\n");
}

TEST_F(ReadReply, FullBufferWithoutTerminatorTimesOutFromTheLastByte) {
  serial.Deliver(std::string(1000, 'a'), 10);
  serial.Deliver(std::string(100, 'b'), 50);  // only 23 of these fit
  serial.Deliver("\n", 3000);                 // would end the reply if there were room
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 0);
  EXPECT_EQ(Log(), "Response time out\r\n");
  EXPECT_EQ(std::string(port.ReplyBuffer(), 1023), std::string(1000, 'a') + std::string(23, 'b'));
  EXPECT_EQ(port.ReplyBuffer()[1023], '\0');
  EXPECT_GT(clock.Now(), 50u + 5000u);
  EXPECT_LE(clock.Now(), 50u + 5000u + 100u);
  EXPECT_EQ(serial.Pending(), 77u + 1u);

  // Each request asks for all the room left, and none once the buffer is full.
  const auto& requests = serial.readRequests;
  ASSERT_GE(requests.size(), 3u);
  EXPECT_EQ(requests.front(), 1023u);
  for (size_t i = 1; i < requests.size(); ++i) EXPECT_LE(requests[i], requests[i - 1]);
  EXPECT_NE(std::find(requests.begin(), requests.end(), 23u), requests.end());
  EXPECT_EQ(requests.back(), 0u);
  // With no room left the pause is a real 100 ms sleep, not a spin.
  EXPECT_GE(clock.sleeps(), 49u);
  EXPECT_LE(serial.readRequests.size(), 60u);
}

TEST_F(ReadReply, SilentLineIsPolledNotSpunOn) {
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 0);
  EXPECT_EQ(Log(), "Response time out\r\n");
  EXPECT_GT(clock.Now(), 5000u);
  EXPECT_LE(clock.Now(), 5100u);
  EXPECT_GE(serial.readRequests.size(), 50u);
  EXPECT_LE(serial.readRequests.size(), 52u);
}

TEST_F(ReadReply, ChunksAreLoggedAsTheyArrive) {
  serial.Deliver("MCU ", 10);
  serial.Deliver("says", 20);
  serial.Deliver(" hi.", 30);
  EXPECT_EQ(port.ReadReply(120000, 1, '.'), 1);
  EXPECT_EQ(Log(), "MCU says hi.");
  EXPECT_EQ(run.texts.size(), 3u);
  EXPECT_EQ(Reply(), "MCU says hi.");
}

// No NUL goes behind a reply that timed out, unless its chunks were logged: the text runs
// on into what the earlier reply left.
TEST_F(ReadReply, TimedOutReplyRunsOnIntoEarlierBytesUnlessLogged) {
  serial.Deliver("0123456789\n", 5);
  ASSERT_EQ(port.ReadReply(5000, 0, '\n'), 1);
  serial.Deliver("ab", 5);
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 0);
  EXPECT_EQ(Reply(), "ab23456789\n");

  serial.Deliver("xy", 5);
  run.log.clear();
  EXPECT_EQ(port.ReadReply(5000, 1, '\n'), 0);
  EXPECT_EQ(Reply(), "xy");
  EXPECT_EQ(Log(), "xyResponse time out\r\n");
}

TEST_F(ReadReply, ReadFailureEndsAtOnceAndSilently) {
  serial.Deliver("abc", 0);
  serial.failRead = true;
  EXPECT_EQ(port.ReadReply(5000, 1, '\n'), 0);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(clock.Now(), 0u);
  EXPECT_EQ(port.ReplyBuffer()[0], '\0');
}

TEST_F(ReadReply, LostLineEndsAtOnce) {
  serial.Deliver("ab", 10);
  serial.Deliver("cd", 200);
  serial.LoseLine();
  EXPECT_EQ(port.ReadReply(120000, 0, '.'), 0);
  EXPECT_LT(clock.Now(), 1000u);
}

TEST_F(ReadReply, PortNotOpenReturnsAtOnceAndSilently) {
  CMcuPort fresh(serial, clock);  // never opened
  fresh.SetObserver(&run);
  port.ClosePort();
  for (CMcuPort* notOpen : {&fresh, &port}) {
    serial.Deliver("ready\n", 0);
    EXPECT_EQ(notOpen->ReadReply(5000, 1, '\n'), 0);
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(clock.Now(), 0u);
  }
}

// The tick counter wraps every 49.7 days; a wait that spans the wrap keeps its length.
class ReadReplyWrap : public ::testing::TestWithParam<uint32_t> {};

TEST_P(ReadReplyWrap, TimeOutSurvivesTheTickWrap) {
  FakeClock clock(GetParam());
  FakeSerial serial(clock);
  MemoryFileSystem files;
  RecordingRun log;
  CMcuPort port(serial, clock);
  port.SetObserver(&log);
  ASSERT_TRUE(port.OpenPort(u"COM2:"));

  serial.Deliver("late\n", 4000);
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 1);
  EXPECT_EQ(std::string(port.ReplyBuffer()), "late\n");
  EXPECT_EQ(clock.Now(), 4000u);

  const uint64_t start = clock.Now();
  EXPECT_EQ(port.ReadReply(5000, 0, '\n'), 0);
  EXPECT_GT(clock.Now() - start, 5000u);
  EXPECT_LE(clock.Now() - start, 5100u);
  EXPECT_EQ(log.log, "Response time out\r\n");
}

INSTANTIATE_TEST_SUITE_P(ReadReply, ReadReplyWrap,
                         ::testing::Values(0u, 0xFFFFFFFFu - 3000u, 0xFFFFFFFFu - 6000u, 0xFFFFFFFFu));

// WritePort.
struct RefusedWrite {
  const char* name;
  bool open;
  bool nullData;
  uint32_t length;
};

class WritePortRefused : public PortTest, public ::testing::WithParamInterface<RefusedWrite> {};

TEST_P(WritePortRefused, ReturnsMinusOneWithoutWritingOrLogging) {
  const RefusedWrite& c = GetParam();
  OpenDirect();
  if (!c.open) port.ClosePort();
  static const uint8_t data[] = {'$', 'R', '\r', '\n'};
  EXPECT_EQ(port.WritePort(c.nullData ? nullptr : data, c.length), -1);
  EXPECT_TRUE(serial.writes.empty());
  EXPECT_EQ(Log(), "");
}

INSTANTIATE_TEST_SUITE_P(WritePort, WritePortRefused,
                         ::testing::Values(RefusedWrite{"ZeroLength", true, false, 0},
                                           RefusedWrite{"NullData", true, true, 4},
                                           RefusedWrite{"PortNotOpen", false, false, 4}),
                         [](const auto& info) { return std::string(info.param.name); });

class WritePort : public ReadReply {};

TEST_F(WritePort, SendsEveryByteValueAsIs) {
  std::vector<uint8_t> data;
  for (int b = 0; b < 256; ++b) data.push_back(static_cast<uint8_t>(b));
  EXPECT_EQ(port.WritePort(data.data(), static_cast<uint32_t>(data.size())), 256);
  ASSERT_EQ(serial.writes.size(), 1u) << "one request for the whole run";
  EXPECT_EQ(serial.written, data);
  EXPECT_EQ(Log(), "");
}

TEST_F(WritePort, ShortWriteIsLoggedAndReturnsTheCountTaken) {
  serial.writeLimit = 2;
  static const uint8_t data[] = {'$', 'e', '\r', '\n'};
  EXPECT_EQ(port.WritePort(data, 4), 2);
  EXPECT_EQ(Log(), "write error....\r\n");
  serial.writeLimit = 0;
  EXPECT_EQ(port.WritePort(data, 4), 0);
  EXPECT_EQ(Log(), "write error....\r\nwrite error....\r\n");
}

}  // namespace

}  // namespace fennwick
