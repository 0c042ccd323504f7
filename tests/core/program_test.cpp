#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "port_fixture.h"
#include "srec_text.h"

namespace fennwick {

namespace {

const std::u16string kPath = u"fw.s19";
const std::string kIap = "$wIAP\r\n";
constexpr size_t kRunBytes = 137357;

// The MCU's IAP loader as the programming run meets it.
struct FakeLoader {
  std::optional<std::string> iapReply = std::string("IAP ready\r\n");
  uint64_t replyDelayMs = 3;
  std::set<uint32_t> dropReplyTo;        // blocks left unanswered
  std::map<uint32_t, std::string> replies;  // blocks answered otherwise than ReplyTo
  std::optional<uint32_t> loseLineAt;    // block after whose data the line goes
  bool expectHeaderNext = true;
  uint32_t blocks = 0;
  uint32_t overlaps = 0;  // headers written while a reply was still queued

  static std::string ReplyTo(uint32_t i) { return "ok" + std::to_string(i) + "."; }

  void Attach(FakeSerial& serial) {
    serial.onWrite = [this, &serial](const std::vector<uint8_t>& w) {
      if (w == Bytes(kIap)) {
        if (iapReply) serial.Deliver(*iapReply, 5);
        return;
      }
      if (!w.empty() && w[0] == 'S' && w.size() == 134) return;  // the end record
      if (expectHeaderNext) {
        if (serial.Pending() != 0) ++overlaps;
        expectHeaderNext = false;
        return;
      }
      expectHeaderNext = true;
      const uint32_t i = blocks++;
      if (loseLineAt && *loseLineAt == i) {
        serial.LoseLine();
        return;
      }
      if (dropReplyTo.count(i)) return;
      const auto other = replies.find(i);
      serial.Deliver(other != replies.end() ? other->second : ReplyTo(i), replyDelayMs);
    };
  }
};

// Notes what the log and the line held when the progress range was set.
class SnapshotProgress final : public IRunObserver {
 public:
  SnapshotProgress(RecordingRun& run, FakeSerial& serial) : run_(run), serial_(serial) {}
  void LogText(std::string_view text) override { run_.LogText(text); }
  void ProgressRange(int32_t high) override {
    ranges.push_back(high);
    logAtRange = run_.log;
    writesAtRange = serial_.writes.size();
  }
  void ProgressPos(int32_t pos) override { positions.push_back(pos); }
  void RunEnded(JobEnd, std::string_view) override {}
  std::vector<int32_t> ranges;
  std::vector<int32_t> positions;
  std::string logAtRange;
  size_t writesAtRange = 0;

 private:
  RecordingRun& run_;
  FakeSerial& serial_;
};

class ProgramMcu : public PortTest {
 protected:
  void SetUp() override {
    OpenDirect();
    mcu.Attach(serial);
  }

  // What the loader makes of `text`: the image and the line buffer's remains.
  static std::pair<std::vector<uint8_t>, std::vector<uint8_t>> Expected(const std::string& text) {
    std::vector<uint8_t> image(kImageSize), buffer(kPacketBufferSize, 0);
    MemoryFile file(text, -1);
    LoadS19Image(file, image.data(), buffer.data());
    return {image, buffer};
  }

  std::vector<uint8_t> Header(size_t block) const { return serial.writes.at(1 + 2 * block); }
  std::vector<uint8_t> Data(size_t block) const { return serial.writes.at(2 + 2 * block); }

  static std::string ExpectedLog(const std::set<uint32_t>& dropped = {}) {
    std::string text = "Programming...\r\nMCU: ";
    for (uint32_t i = 0; i < 1024; ++i) {
      if (dropped.count(i)) {
        text += "Response time out\r\n";
      } else if (i % 16 == 0) {
        text += FakeLoader::ReplyTo(i);
      }
    }
    return text;
  }

  FakeLoader mcu;
};

std::string SampleFirmware() {
  std::vector<uint8_t> lastBlock(128);
  for (size_t i = 0; i < lastBlock.size(); ++i) lastBlock[i] = static_cast<uint8_t>(0xFF - i);
  std::string text = Record('0', 2, 0, Text("sample")) + "\r\n";
  text += S1(0x7FF8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}) + "\r\n";  // half below the flash
  text += S1(0x8100, Text("$ABCDE123 board")) + "\r\n";
  text += S2(0x10000, {0x0D, 0x0A, 0x2E, 0x00, 0x53}) + "\r\n";  // line ends and "." inside the data
  text += S2(0x27F80, std::vector<uint8_t>(lastBlock.begin(), lastBlock.begin() + 64)) + "\r\n";
  text += S2(0x27FC0, std::vector<uint8_t>(lastBlock.begin() + 64, lastBlock.end())) + "\r\n";
  text += "S9030000FC\r\n";
  return text;
}

TEST_F(ProgramMcu, CompleteRun) {
  const std::string firmware = SampleFirmware();
  files.Add(kPath, firmware);
  const auto [image, remains] = Expected(firmware);
  SnapshotProgress bar(run, serial);
  port.SetObserver(&bar);

  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));

  EXPECT_EQ(outcome.status, ProgramOutcome::Status::Programmed);
  EXPECT_TRUE(outcome.iapReplied);
  EXPECT_EQ(outcome.blockTimeouts, 0u);
  EXPECT_EQ(outcome.shortWrites, 0u);
  EXPECT_EQ(outcome.load.outOfRangeBytes, 8u);
  EXPECT_TRUE(outcome.Succeeded());

  // Every byte of the run.
  EXPECT_EQ(serial.written.size(), kRunBytes);
  ASSERT_EQ(serial.writes.size(), 1u + 2 * 1024 + 1);
  EXPECT_EQ(serial.writes.front(), Bytes(kIap));
  for (size_t i = 0; i < 1024; ++i) {
    const uint32_t a = 0x8000 + 128 * static_cast<uint32_t>(i);
    const std::vector<uint8_t> header = {'S', '2', 0, static_cast<uint8_t>(a >> 16), static_cast<uint8_t>(a >> 8),
                                         static_cast<uint8_t>(a)};
    ASSERT_EQ(Header(i), header) << "block " << i;
    ASSERT_EQ(Data(i), std::vector<uint8_t>(image.begin() + 128 * i, image.begin() + 128 * (i + 1))) << "block " << i;
  }
  EXPECT_EQ(Header(0), (std::vector<uint8_t>{0x53, 0x32, 0x00, 0x00, 0x80, 0x00}));
  EXPECT_EQ(Header(1), (std::vector<uint8_t>{0x53, 0x32, 0x00, 0x00, 0x80, 0x80}));
  EXPECT_EQ(Header(511), (std::vector<uint8_t>{0x53, 0x32, 0x00, 0x01, 0x7F, 0x80}));
  EXPECT_EQ(Header(1023), (std::vector<uint8_t>{0x53, 0x32, 0x00, 0x02, 0x7F, 0x80}));
  EXPECT_EQ(Data(0)[0], 9) << "the in-range half of the record below the flash";
  EXPECT_EQ(Data(1023)[127], 0xFF - 127);

  // The end record: "S9", the last block's address, then what loading left behind.
  const std::vector<uint8_t>& end = serial.writes.back();
  ASSERT_EQ(end.size(), 134u);
  EXPECT_EQ(std::vector<uint8_t>(end.begin(), end.begin() + 6), (std::vector<uint8_t>{'S', '9', 0, 2, 0x7F, 0x80}));
  EXPECT_EQ(std::vector<uint8_t>(end.begin() + 6, end.end()),
            std::vector<uint8_t>(remains.begin() + 6, remains.begin() + 134));

  EXPECT_EQ(Log(), ExpectedLog());
  EXPECT_EQ(mcu.overlaps, 0u) << "one block in flight at a time";
  EXPECT_EQ(serial.Pending(), 0u);

  // The bar runs over the blocks: range 0..1023 set after "MCU: " and before the first block.
  ASSERT_EQ(bar.ranges.size(), 1u);
  EXPECT_EQ(bar.ranges[0], 1023);
  EXPECT_EQ(bar.logAtRange, "Programming...\r\nMCU: ");
  EXPECT_EQ(bar.writesAtRange, 1u);
  std::vector<int32_t> positions;
  for (int32_t i = 0; i < 1024; ++i) positions.push_back(i);
  EXPECT_EQ(bar.positions, positions);
}

// A firmware is loaded once and may be flashed to several boards or again on one port: the
// end record still carries exactly what loading the file over that port's buffer leaves,
// the earlier run's bytes included where the file's lines are shorter.
TEST_F(ProgramMcu, EndRecordCarriesWhatLoadingLeavesOverEarlierRuns) {
  const std::string longLines = SampleFirmware();
  const std::string shortLines = S1(0x8000, {1, 2, 3}) + "\r\nS9030000FC\r\n";
  const LoadedFirmware first = LoadFirmware(longLines, {FirmwareFormat::S19});
  const LoadedFirmware second = LoadFirmware(shortLines, {FirmwareFormat::S19});
  for (const LoadedFirmware* firmware : {&first, &second, &second, &first}) {
    std::vector<uint8_t> expected(packet, packet + kPacketBufferSize);
    std::vector<uint8_t> image(kImageSize);
    MemoryFile file(*firmware->bytes, -1);
    LoadS19Image(file, image.data(), expected.data());
    serial.writes.clear();
    ASSERT_TRUE(port.ProgramMcu(*firmware).Succeeded());
    const std::vector<uint8_t>& end = serial.writes.back();
    ASSERT_EQ(end.size(), 134u);
    EXPECT_EQ(std::vector<uint8_t>(end.begin() + 6, end.end()),
              std::vector<uint8_t>(expected.begin() + 6, expected.begin() + 134));
  }
}

TEST_F(ProgramMcu, BlockRepliesThatTimeOutDoNotStopTheRun) {
  files.Add(kPath, SampleFirmware());
  mcu.dropReplyTo = {3, 16, 1023};
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_EQ(outcome.status, ProgramOutcome::Status::Flawed);
  EXPECT_EQ(outcome.blockTimeouts, 3u);
  EXPECT_FALSE(outcome.Succeeded());
  EXPECT_EQ(serial.written.size(), kRunBytes);
  EXPECT_EQ(Log(), ExpectedLog({3, 16, 1023}));
  EXPECT_GT(clock.Now(), 3u * 120000u);
  EXPECT_LT(clock.Now(), 3u * 120400u + 1024u * 10u);
  EXPECT_EQ(run.positions.back(), 1023);
}

struct IapCase {
  const char* name;
  std::optional<std::string> reply;
  ProgramOutcome::Status status;
  const char* log;  // the whole log of a run that stops; before "Programming..." otherwise
  bool succeeds;
  bool warned = false;  // a success that names the unanswered request
};

class IapReplies : public ProgramMcu, public ::testing::WithParamInterface<IapCase> {};

TEST_P(IapReplies, OnlyAHashFirstRefuses) {
  const IapCase& c = GetParam();
  files.Add(kPath, SampleFirmware());
  mcu.iapReply = c.reply;
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_EQ(outcome.Succeeded(), c.succeeds);
  EXPECT_EQ(outcome.status, c.status);
  EXPECT_EQ(ProgramWarnings(outcome).size(), c.warned ? 1u : 0u);
  if (c.warned) {
    EXPECT_NE(ProgramWarnings(outcome)[0].find("IAP request"), std::string::npos);
  }
  EXPECT_TRUE(outcome.iapSent);
  if (c.status == ProgramOutcome::Status::Refused) {
    EXPECT_EQ(Log(), c.log);
    EXPECT_EQ(serial.written, Bytes(kIap)) << "nothing after the request";
    EXPECT_TRUE(run.progress.empty());
    EXPECT_LT(clock.Now(), 5200u);
  } else {
    EXPECT_EQ(Log(), c.log + ExpectedLog());
    EXPECT_EQ(serial.written.size(), kRunBytes);
  }
  EXPECT_EQ(files.opens, 1);
}

using Status = ProgramOutcome::Status;
INSTANTIATE_TEST_SUITE_P(
    ProgramMcu, IapReplies,
    ::testing::Values(
        IapCase{"Refused", std::string("#NO IAP\r\n"), Status::Refused, "Current MCU don't support IAP feature!\r\n", false},
        IapCase{"RefusedWithoutLineEnd", std::string("#"), Status::Refused,
                "Response time out\r\nCurrent MCU don't support IAP feature!\r\n", false},
        IapCase{"HashNotFirst", std::string("O#K\r\n"), Status::Programmed, "", true},
        IapCase{"BareLineFeed", std::string("\n"), Status::Programmed, "", true},
        // A loader may enter IAP mode without a (complete) word: the blocks follow the
        // silence, and every block accepted makes a success with a warning.
        IapCase{"WithoutLineEnd", std::string("OK"), Status::Programmed, "Response time out\r\n", true, true},
        IapCase{"Silent", std::nullopt, Status::Programmed, "Response time out\r\n", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct StallCase {
  const char* name;
  std::set<uint32_t> dropped;
  BlockLimits limits;
  std::optional<std::pair<uint32_t, uint32_t>> stalled;  // first and last block of the run that stops it
};

class BlockTimeouts : public ProgramMcu, public ::testing::WithParamInterface<StallCase> {};

TEST_P(BlockTimeouts, TooManyInARowStopTheRunWithoutTheEndRecord) {
  const StallCase& c = GetParam();
  files.Add(kPath, SampleFirmware());
  mcu.dropReplyTo = c.dropped;
  port.SetBlockLimits(c.limits);
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_FALSE(outcome.Succeeded());
  if (!c.stalled) {
    EXPECT_EQ(outcome.status, Status::Flawed);
    EXPECT_EQ(outcome.blockTimeouts, c.dropped.size());
    EXPECT_EQ(serial.written.size(), kRunBytes) << "every block and the end record";
    EXPECT_EQ(serial.calls.back(), "Drain");
    return;
  }
  const auto [from, at] = *c.stalled;
  EXPECT_EQ(outcome.status, Status::Stalled);
  EXPECT_EQ(outcome.stalledFrom, from);
  EXPECT_EQ(outcome.stalledAt, at);
  EXPECT_EQ(serial.writes.size(), 1u + 2 * (at + 1)) << "no block after the last time-out, no end record";
  EXPECT_TRUE(Log().ends_with("Response time out\r\n" + std::to_string(at - from + 1) +
                              " block replies in a row timed out, programming stopped!\r\n"))
      << Log();
  // Each silence in full, and no more.
  EXPECT_GE(clock.Now(), uint64_t{c.limits.timeoutMs} * c.dropped.size());
  EXPECT_LT(clock.Now(), uint64_t{c.limits.timeoutMs + 200} * c.dropped.size() + 1024u * 10u);
  EXPECT_EQ(run.positions.back(), static_cast<int32_t>(at));
}

INSTANTIATE_TEST_SUITE_P(
    ProgramMcu, BlockTimeouts,
    ::testing::Values(StallCase{"AtTheFirstBlocks", {0, 1, 2}, {}, std::make_pair(0u, 2u)},
                      StallCase{"InTheMiddle", {500, 501, 502}, {}, std::make_pair(500u, 502u)},
                      StallCase{"AtTheLastBlocks", {1021, 1022, 1023}, {}, std::make_pair(1021u, 1023u)},
                      StallCase{"TwoThenAReplyGoesOn", {7, 8, 10, 11, 1022, 1023}, {}, std::nullopt},
                      StallCase{"ShorterSilenceAndOneAllowed", {40}, {1000, 1}, std::make_pair(40u, 40u)},
                      StallCase{"ZeroNeverStops", {3, 4, 5, 6}, {1000, 0}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

struct StopCase {
  const char* name;
  bool iapSilent;
  uint32_t stopAfterBlocks;  // the stop comes once this many blocks are out (0: by time)
  uint32_t blocksSent;
};

class StopRequests : public ProgramMcu, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopRequests, EndTheWaitAtOnceAndTheRunAfterTheBlockInFlight) {
  const StopCase& c = GetParam();
  files.Add(kPath, SampleFirmware());
  if (c.iapSilent) mcu.iapReply.reset();
  mcu.dropReplyTo = {c.stopAfterBlocks == 0 ? 0u : c.stopAfterBlocks - 1};  // the MCU hangs there
  port.SetCancel([&] { return c.stopAfterBlocks == 0 ? clock.Now() >= 1000 : mcu.blocks >= c.stopAfterBlocks; });
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_EQ(outcome.status, Status::Interrupted);
  EXPECT_EQ(outcome.blocksSent, c.blocksSent);
  EXPECT_EQ(outcome.blockTimeouts, 0u) << "a wait ended by the stop is no time-out";
  EXPECT_EQ(serial.writes.size(), 1u + 2 * c.blocksSent) << "no block after the stop, no end record";
  EXPECT_LT(clock.Now(), 1200u) << "no silence waited out";
  EXPECT_EQ(Log().find("Response time out"), std::string::npos) << Log();
}

INSTANTIATE_TEST_SUITE_P(ProgramMcu, StopRequests,
                         ::testing::Values(StopCase{"DuringTheIapWait", true, 0, 0},
                                           StopCase{"DuringABlockReply", false, 6, 6},
                                           StopCase{"DuringTheFirstBlockReply", false, 1, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

struct DrainCase {
  const char* name;
  DrainResult drain;
  ProgramOutcome::Status status;
  uint32_t shortWrites;
  const char* logEnd;
};

class EndRecordDrain : public ProgramMcu, public ::testing::WithParamInterface<DrainCase> {};

TEST_P(EndRecordDrain, TheRunIsCompleteOnlyOnceTheEndRecordHasLeftThePort) {
  const DrainCase& c = GetParam();
  files.Add(kPath, SampleFirmware());
  serial.drainResult = c.drain;
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_EQ(outcome.status, c.status);
  EXPECT_EQ(outcome.shortWrites, c.shortWrites);
  EXPECT_EQ(serial.written.size(), kRunBytes);
  EXPECT_EQ(Log(), ExpectedLog() + c.logEnd);
}

INSTANTIATE_TEST_SUITE_P(ProgramMcu, EndRecordDrain,
                         ::testing::Values(DrainCase{"Drained", DrainResult::Drained, Status::Programmed, 0, ""},
                                           DrainCase{"HangUp", DrainResult::Lost, Status::LineLost, 0, "\r\nCOM port lost!\r\n"},
                                           DrainCase{"Stuck", DrainResult::TimedOut, Status::Flawed, 1, "write error....\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// Such an image would only erase the flash to zeros; the MCU keeps its firmware.
TEST_F(ProgramMcu, FilesWithoutDataSendNothing) {
  for (const std::string& text : {std::string(), std::string("S00600004844521B\r\nS9030000FC\r\n"),
                                  S1(0x7000, {1, 2}) + "\r\nS9030000FC\r\n"}) {
    SCOPED_TRACE(text);
    files.Add(kPath, text);
    const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
    EXPECT_EQ(outcome.status, Status::NoData);
    EXPECT_EQ(ProgramVerdict(outcome), "Nothing was flashed: the file holds no data for the flash.");
    EXPECT_TRUE(serial.written.empty()) << "not even the IAP request";
    EXPECT_EQ(Log(), "");
    EXPECT_TRUE(run.progress.empty());
  }
}

struct BlockReplyCase {
  const char* name;
  std::map<uint32_t, std::string> replies;
  uint32_t refused;
  uint32_t first;
  const char* verdict;
};

class BlockReplies : public ProgramMcu, public ::testing::WithParamInterface<BlockReplyCase> {};

// A refusal does not stop the run (the loader still gets its session closed), but the run
// is no success; the log echoes every sixteenth reply as it came.
TEST_P(BlockReplies, OnlyAHashFirstRefusesTheBlock) {
  const BlockReplyCase& c = GetParam();
  files.Add(kPath, SampleFirmware());
  mcu.replies = c.replies;
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_EQ(outcome.status, c.refused > 0 ? Status::Flawed : Status::Programmed);
  EXPECT_EQ(outcome.blocksRefused, c.refused);
  if (c.refused > 0) {
    EXPECT_EQ(outcome.firstRefused, c.first);
  }
  // A reply without its '.' is waited out: a time-out, and never an accepted block.
  std::string expected = "Programming...\r\nMCU: ";
  uint32_t whole = 0, accepted = 0;
  for (uint32_t i = 0; i < 1024; ++i) {
    const std::string reply = c.replies.count(i) ? c.replies.at(i) : FakeLoader::ReplyTo(i);
    if (i % 16 == 0) expected += reply;
    if (!reply.ends_with('.')) expected += "Response time out\r\n";
    whole += reply.ends_with('.');
    accepted += reply.ends_with('.') && !reply.starts_with('#');
  }
  EXPECT_EQ(Log(), expected);
  EXPECT_EQ(outcome.blocksReplied, whole);
  EXPECT_EQ(outcome.blocksAccepted, accepted);
  EXPECT_EQ(ProgramVerdict(outcome), c.verdict);
  EXPECT_EQ(serial.written.size(), kRunBytes) << "every block and the end record";
}

INSTANTIATE_TEST_SUITE_P(
    ProgramMcu, BlockReplies,
    ::testing::Values(
        BlockReplyCase{"HashFirst", {{5, "#5."}, {32, "#bad crc."}, {1023, "#."}}, 3, 5,
                       "Finished with errors: the MCU refused 3 of 1024 blocks (the first: block 5 at 0x08280)."},
        BlockReplyCase{"HashWithoutFullStop", {{16, "#no"}}, 1, 16,
                       "Finished with errors: the MCU refused 1 of 1024 blocks (the first: block 16 at 0x08800), 1 "
                       "of 1024 block replies timed out."},
        BlockReplyCase{"HashLaterOrBareFullStop", {{0, "o#k."}, {7, " #."}, {16, "."}}, 0, 0,
                       "Done: programmed 1024 blocks, every one accepted."}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProgramMcu, PortNotOpenStopsAtTheIapRequest) {
  files.Add(kPath, SampleFirmware());
  port.ClosePort();
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_EQ(Log(), "The MCU port is not open!\r\n");
  EXPECT_TRUE(serial.written.empty());
  EXPECT_EQ(clock.Now(), 0u) << "no wait without a port";
  EXPECT_TRUE(run.progress.empty());
  EXPECT_EQ(outcome.status, Status::PortNotOpen);
  EXPECT_FALSE(outcome.iapSent);
  EXPECT_EQ(outcome.shortWrites, 1u);
  EXPECT_FALSE(outcome.Succeeded()) << "nothing reached the MCU";
}

TEST_F(ProgramMcu, UnreadableFileEndsBeforeTheFirstBlock) {
  for (int64_t failAt : {0, 30, 100}) {
    SCOPED_TRACE(failAt);
    serial.written.clear();
    run.log.clear();
    files.Add(kPath, SampleFirmware(), failAt);
    const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
    EXPECT_EQ(outcome.status, ProgramOutcome::Status::FileUnreadable);
    EXPECT_TRUE(outcome.load.readError);
    EXPECT_EQ(Log(), "Read S19 File failed!\r\n");
    EXPECT_EQ(serial.written, Bytes(kIap)) << "the MCU was asked first, but gets no block";
    EXPECT_TRUE(run.progress.empty());
    EXPECT_FALSE(outcome.Succeeded());
  }
}

TEST_F(ProgramMcu, LineLostMidRunStopsAtOnce) {
  files.Add(kPath, SampleFirmware());
  mcu.loseLineAt = 5;
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_EQ(outcome.status, ProgramOutcome::Status::LineLost);
  EXPECT_EQ(outcome.blocksSent, 6u);
  EXPECT_EQ(Log(), "Programming...\r\nMCU: ok0.\r\nCOM port lost!\r\n");
  EXPECT_EQ(serial.writes.size(), 1u + 2 * 6) << "no block after the loss, and no end record";
  EXPECT_LT(clock.Now(), 1000u) << "no block waits out its time-out";
  EXPECT_EQ(run.positions.back(), 5);
}

TEST_F(ProgramMcu, ShortWritesAreLoggedAndCounted) {
  files.Add(kPath, SampleFirmware());
  serial.writeLimit = 100;  // takes the request and the headers whole, not the blocks
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_EQ(outcome.status, ProgramOutcome::Status::Flawed);
  EXPECT_EQ(outcome.shortWrites, 1024u + 1u);
  EXPECT_FALSE(outcome.Succeeded());
  // One line per short write besides the two headings and the 64 replies (the log itself
  // has been trimmed by then).
  EXPECT_EQ(run.texts.size(), 2u + 64 + 1025);
  const std::string text = Log();
  EXPECT_EQ(text.substr(text.size() - 34), "write error....\r\nwrite error....\r\n") << "the last block and the end record";
}

TEST_F(ProgramMcu, RangeOfAnEarlierExaminationIsReplaced) {
  const std::string firmware = SampleFirmware();  // 7 lines
  files.Add(kPath, firmware);
  port.ExamineFirmware(ReadS19(kPath), "");
  EXPECT_EQ(run.rangeHigh, 7);
  const ProgramOutcome outcome = port.ProgramMcu(ReadS19(kPath));
  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(run.rangeHigh, 1023);
  EXPECT_EQ(run.positions.back(), 1023);
  EXPECT_EQ(*std::max_element(run.positions.begin(), run.positions.end()), 1023);
}

TEST_F(ProgramMcu, PortsKeepTheirOwnPacketBufferAndLog) {
  RecordingRun plainRun;
  CMcuPort plain(serial, clock);
  plain.SetObserver(&plainRun);
  ASSERT_TRUE(plain.OpenPort(u"COM2:"));
  files.Add(kPath, SampleFirmware());
  const ProgramOutcome outcome = plain.ProgramMcu(ReadS19(kPath));
  EXPECT_TRUE(outcome.Succeeded());
  EXPECT_EQ(plainRun.log, ExpectedLog());
  EXPECT_EQ(plainRun.rangeHigh, 1023);
  EXPECT_EQ(plainRun.positions.back(), 1023);
  const uint8_t endHeader[] = {'S', '9', 0, 2, 0x7F, 0x80};
  EXPECT_EQ(std::memcmp(plain.PacketBuffer(), endHeader, sizeof endHeader), 0);
  EXPECT_EQ(Log(), "");
  EXPECT_EQ(packet[0], 0) << "another port's buffer is untouched";
}

}  // namespace

}  // namespace fennwick
