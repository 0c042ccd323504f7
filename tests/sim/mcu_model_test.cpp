#include <gtest/gtest.h>

#include <random>

#include "sim_test_support.hpp"

namespace fennwick::sim::testing {
namespace {

const TimePoint t0 = TimePoint{} + std::chrono::seconds(100);

McuModel modelInIap(McuConfig config = {}) {
  McuModel model(std::move(config));
  feed(model, bytes("$wIAP\r\n"), t0);
  EXPECT_EQ(model.mode(), Mode::Iap);
  return model;
}

TEST(McuModelQuery, Replies) {
  struct Case {
    std::vector<std::string> args;
    std::string query;
    Bytes reply;
    Mode mode_after;
  };
  const std::vector<Case> cases = {
      {{}, "$R\r\n", bytes("$R:01FNW-107 Fennwick simulated MCU\r\n"), Mode::Query},
      {{}, "$e\r\n", bytes("$e:Fennwick MCU simulator, 128 KiB flash at 0x8000\r\n"), Mode::Query},
      {{"--version", "$R:01ABC-200 x"}, "$R\r\n", bytes("$R:01ABC-200 x\r\n"), Mode::Query},
      {{"--version", "$R:\\xff\\x80\\n"}, "$R\r\n", Bytes{'$', 'R', ':', 0xff, 0x80, '\n'}, Mode::Query},
      {{"--description", "$e:Board\\tB"}, "$e\r\n", bytes("$e:Board\tB\r\n"), Mode::Query},
      {{"--no-description"}, "$e\r\n", bytes("$#\r\n"), Mode::Query},
      {{"--silent"}, "$R\r\n", {}, Mode::Query},
      {{"--silent"}, "$e\r\n", {}, Mode::Query},
      {{"--silent"}, "$wIAP\r\n", {}, Mode::Query},
      {{}, "$wIAP\r\n", bytes("$wIAP OK\r\n"), Mode::Iap},
      {{"--iap-reply", "$wIAP ready"}, "$wIAP\r\n", bytes("$wIAP ready\r\n"), Mode::Iap},
      {{"--refuse-iap"}, "$wIAP\r\n", bytes("#IAP not supported\r\n"), Mode::Query},
      // Framing must be exact: these get no answer.
      {{}, "$R\n", {}, Mode::Query},
      {{}, "$r\r\n", {}, Mode::Query},
      {{}, " $R\r\n", {}, Mode::Query},
      {{}, "$wIAP \r\n", {}, Mode::Query},
  };
  for (const auto& c : cases) {
    McuModel model(configFrom(c.args));
    const auto actions = feed(model, bytes(c.query), t0);
    const std::string label = (c.args.empty() ? "" : c.args[0]) + " " + c.query;
    EXPECT_EQ(sent(actions), c.reply) << label;
    EXPECT_EQ(model.mode(), c.mode_after) << label;
    for (const auto& r : replies(actions)) EXPECT_EQ(r.due, t0) << label;
  }
}

TEST(McuModelQuery, LineAssembly) {
  McuModel model;
  // A command split over arrivals is answered at its last byte's arrival.
  EXPECT_TRUE(feed(model, bytes("$"), t0).empty());
  auto actions = feed(model, bytes("R\r\n"), t0 + Millis(3));
  ASSERT_EQ(replies(actions).size(), 1u);
  EXPECT_EQ(replies(actions)[0].due, t0 + Millis(3));

  // Rubbish lines are skipped; the next command is still answered.
  EXPECT_EQ(sent(feed(model, bytes("junk\r\n\r\n$R\r\n"), t0)), McuConfig{}.version_reply);

  // An over-long line is dropped whole, even if it ends like a command.
  Bytes longLine(300, 'x');
  const Bytes cmd = bytes("$R\r\n");
  longLine.insert(longLine.end(), cmd.begin(), cmd.end());
  EXPECT_TRUE(sent(feed(model, longLine, t0)).empty());
  EXPECT_EQ(sent(feed(model, cmd, t0)), McuConfig{}.version_reply);

  // 256 bytes including CR LF is still a line; 257 is not.
  Bytes exact(kMaxLineLength - 2, 'y');
  exact.push_back('\r');
  exact.push_back('\n');
  auto notes = only<LogNote>(feed(model, exact, t0));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].text.find("ignored line"), std::string::npos);
  exact.insert(exact.begin(), 'y');
  notes = only<LogNote>(feed(model, exact, t0));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].text.find("discarded"), std::string::npos);
}

TEST(McuModelIap, FullSessionStoresFlashExactly) {
  McuModel model = modelInIap();
  std::mt19937 random(7);
  Bytes image(kFlashSize);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());

  TimePoint at = t0;
  for (std::size_t block = 0; block < kBlockCount; ++block) {
    at += Millis(10);
    const Bytes data(image.begin() + static_cast<std::ptrdiff_t>(block * kBlockSize),
                     image.begin() + static_cast<std::ptrdiff_t>((block + 1) * kBlockSize));
    const auto actions = feed(model, packet('2', kFlashBase + block * kBlockSize, data), at);
    const auto r = replies(actions);
    ASSERT_EQ(r.size(), 1u) << block;
    EXPECT_EQ(r[0].bytes, bytes(".")) << block;
    EXPECT_EQ(r[0].due, at + Millis(4)) << block;
    EXPECT_TRUE(only<LogNote>(actions).empty()) << block;
  }
  EXPECT_EQ(model.flash(), image);

  at += Millis(10);
  const auto actions = feed(model, endRecord(), at);
  EXPECT_TRUE(replies(actions).empty());
  const auto ends = only<SessionEnd>(actions);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].packets, kBlockCount);
  EXPECT_EQ(ends[0].errors, 0u);
  EXPECT_NE(ends[0].summary.find("elapsed 10.250 s"), std::string::npos) << ends[0].summary;
  EXPECT_EQ(model.mode(), Mode::Query);
  EXPECT_EQ(model.flash(), image);
  EXPECT_EQ(sent(feed(model, bytes("$R\r\n"), at)), McuConfig{}.version_reply);

  // A new session starts from erased flash.
  feed(model, bytes("$wIAP\r\n"), at);
  EXPECT_EQ(model.flash(), Bytes(kFlashSize, 0xff));
}

TEST(McuModelIap, BadPacketsAreCountedAndStillAnswered) {
  struct Case {
    std::string name;
    std::vector<Bytes> packets;
    std::size_t errors;
    std::vector<std::pair<std::size_t, std::uint8_t>> flash_bytes;  // offset, expected value
  };
  const std::vector<Case> cases = {
      {"in order", {blockPacket(0x8000, 1), blockPacket(0x8080, 2)}, 0, {{0, 1}, {128, 2}}},
      {"skip ahead is stored and resyncs",
       {blockPacket(0x8100, 1), blockPacket(0x8180, 2)}, 1, {{0, 0xff}, {256, 1}, {384, 2}}},
      {"repeat is stored", {blockPacket(0x8000, 1), blockPacket(0x8000, 2)}, 1, {{0, 2}}},
      {"below flash", {blockPacket(0x7f80, 1)}, 1, {{0, 0xff}}},
      {"past flash", {blockPacket(0x28000, 1)}, 1, {{kFlashSize - 1, 0xff}}},
      {"huge address", {blockPacket(0xffffff80, 1)}, 1, {}},
      {"misaligned", {blockPacket(0x8001, 1), blockPacket(0x8000, 2)}, 1, {{0, 2}, {128, 0xff}}},
      {"wrong record type", {packet('1', 0x8000, Bytes(kBlockSize, 1))}, 1, {{0, 0xff}}},
      {"not a record", {Bytes(kPacketSize, 'x')}, 1, {{0, 0xff}}},
      {"last block", {blockPacket(kLastBlockAddress, 9)}, 1, {{kFlashSize - 1, 9}}},
  };
  for (const auto& c : cases) {
    McuModel model = modelInIap();
    for (const auto& p : c.packets) {
      EXPECT_EQ(sent(feed(model, p, t0)), bytes(".")) << c.name;
    }
    EXPECT_EQ(model.sessionErrors(), c.errors) << c.name;
    EXPECT_EQ(model.sessionPackets(), c.packets.size()) << c.name;
    for (const auto& [offset, value] : c.flash_bytes) {
      EXPECT_EQ(model.flash()[offset], value) << c.name << " at " << offset;
    }
    EXPECT_EQ(model.mode(), Mode::Iap) << c.name;
  }
}

TEST(McuModelIap, EndRecordReportsIncompleteOrWrongSessions) {
  McuModel model = modelInIap();
  feed(model, blockPacket(0x8000, 1), t0);
  auto ends = only<SessionEnd>(feed(model, endRecord(), t0));
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].errors, 1u);  // 1023 blocks missing

  model = modelInIap();
  ends = only<SessionEnd>(feed(model, packet('9', 0x8000, {}), t0));
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].errors, 2u);  // wrong address, and nothing written
  EXPECT_EQ(model.mode(), Mode::Query);
}

TEST(McuModelIap, PeerLossReturnsToQueryMode) {
  McuModel model = modelInIap();
  const Bytes half(kPacketSize / 2, 'S');
  feed(model, half, t0);
  const auto notes = only<LogNote>(model.peerLost());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_TRUE(notes[0].warning);
  EXPECT_EQ(model.mode(), Mode::Query);
  EXPECT_EQ(sent(feed(model, bytes("$R\r\n"), t0)), McuConfig{}.version_reply);

  // A half line is forgotten too.
  feed(model, bytes("$R"), t0);
  model.peerLost();
  EXPECT_EQ(sent(feed(model, bytes("\r\n$e\r\n"), t0)), McuConfig{}.description_reply);
}

TEST(McuModelIap, FlashTimeQueuesBlocksSentTooEarly) {
  McuConfig config;
  config.flash_time = Millis(20);
  McuModel model = modelInIap(config);
  const auto first = replies(feed(model, blockPacket(0x8000, 1), t0));
  const auto second = replies(feed(model, blockPacket(0x8080, 1), t0 + Millis(5)));
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0].due, t0 + Millis(20));
  EXPECT_EQ(second[0].due, t0 + Millis(40));
}

TEST(McuModelFaults, DropDelayAndNoise) {
  McuModel model = modelInIap(configFrom({"--drop-reply", "1", "--delay-reply", "2:250", "--noise"}));
  std::vector<std::vector<SendReply>> got;
  for (std::uint32_t block = 0; block < 8; ++block) {
    got.push_back(replies(feed(model, blockPacket(kFlashBase + block * 128, 0x10), t0)));
  }
  EXPECT_TRUE(got[1].empty());
  EXPECT_EQ(model.flash()[128], 0x10);  // a dropped reply still means a stored block
  ASSERT_EQ(got[2].size(), 1u);
  EXPECT_EQ(got[2][0].due, t0 + Millis(4 * 3 + 250));
  for (std::size_t block = 0; block < got.size(); ++block) {
    if (block == 1) continue;
    ASSERT_EQ(got[block].size(), 1u) << block;
    const Bytes& r = got[block][0].bytes;
    ASSERT_GE(r.size(), 2u) << block;
    EXPECT_EQ(r.back(), '.') << block;
    EXPECT_EQ(std::count(r.begin(), r.end(), '.'), 1) << block;
    EXPECT_NE(r.front(), '#') << block;
  }
  EXPECT_EQ(model.sessionErrors(), 0u);

  // Block numbers count from 0 again in the next session.
  feed(model, endRecord(), t0);
  feed(model, bytes("$wIAP\r\n"), t0);
  feed(model, blockPacket(0x8000, 1), t0);
  EXPECT_TRUE(replies(feed(model, blockPacket(0x8080, 1), t0)).empty());
}

TEST(McuModelFaults, HangStopsEveryAnswerForGood) {
  McuModel model = modelInIap(configFrom({"--hang-after", "1"}));
  EXPECT_EQ(sent(feed(model, blockPacket(0x8000, 1), t0)), bytes("."));
  EXPECT_EQ(sent(feed(model, blockPacket(0x8080, 1), t0)), bytes("."));
  EXPECT_TRUE(model.hung());
  EXPECT_TRUE(feed(model, blockPacket(0x8100, 1), t0).empty());
  EXPECT_EQ(model.flash()[256], 0xff);
  EXPECT_TRUE(feed(model, endRecord(), t0).empty());
  model.peerLost();
  EXPECT_TRUE(feed(model, bytes("$R\r\n"), t0).empty());
}

TEST(McuModelFaults, HangUpComesAfterTheReply) {
  McuModel model = modelInIap(configFrom({"--hangup-after", "0", "--delay-reply", "0:30"}));
  const auto actions = feed(model, blockPacket(0x8000, 1), t0);
  const auto r = replies(actions);
  const auto hangups = only<HangUp>(actions);
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(hangups.size(), 1u);
  EXPECT_EQ(hangups[0].due, r[0].due);
  EXPECT_EQ(r[0].due, t0 + Millis(34));
  EXPECT_TRUE(feed(model, blockPacket(0x8080, 1), t0).empty());

  // A dropped reply still hangs up at the time it would have gone.
  model = modelInIap(configFrom({"--hangup-after", "0", "--drop-reply", "0"}));
  const auto quiet = feed(model, blockPacket(0x8000, 1), t0);
  EXPECT_TRUE(replies(quiet).empty());
  ASSERT_EQ(only<HangUp>(quiet).size(), 1u);
}

}  // namespace
}  // namespace fennwick::sim::testing
