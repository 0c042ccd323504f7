#include <gtest/gtest.h>

#include <random>

#include "sim_test_support.h"

namespace fennwick::sim::testing {
namespace {

const TimePoint kT0 = TimePoint{} + std::chrono::seconds(100);

McuModel ModelInIap(McuConfig config = {}) {
  McuModel model(std::move(config));
  Feed(model, BytesOf("$wIAP\r\n"), kT0);
  EXPECT_EQ(model.CurrentMode(), Mode::Iap);
  return model;
}

TEST(McuModelQuery, Replies) {
  struct Case {
    std::vector<std::string> args;
    std::string query;
    Bytes reply;
    Mode modeAfter;
  };
  const std::vector<Case> cases = {
      {{}, "$R\r\n", BytesOf("$R:01FNW-107 Fennwick simulated MCU\r\n"), Mode::Query},
      {{}, "$e\r\n", BytesOf("$e:Fennwick MCU simulator, 128 KiB flash at 0x8000\r\n"), Mode::Query},
      {{"--version-reply", "$R:01ABC-200 x"}, "$R\r\n", BytesOf("$R:01ABC-200 x\r\n"), Mode::Query},
      {{"--version-reply", "$R:\\xff\\x80\\n"}, "$R\r\n", Bytes{'$', 'R', ':', 0xff, 0x80, '\n'}, Mode::Query},
      {{"--description", "$e:Board\\tB"}, "$e\r\n", BytesOf("$e:Board\tB\r\n"), Mode::Query},
      {{"--no-description"}, "$e\r\n", BytesOf("$#\r\n"), Mode::Query},
      {{"--silent"}, "$R\r\n", {}, Mode::Query},
      {{"--silent"}, "$e\r\n", {}, Mode::Query},
      {{"--silent"}, "$wIAP\r\n", {}, Mode::Query},
      {{}, "$wIAP\r\n", BytesOf("$wIAP OK\r\n"), Mode::Iap},
      {{"--iap-reply", "$wIAP ready"}, "$wIAP\r\n", BytesOf("$wIAP ready\r\n"), Mode::Iap},
      {{"--refuse-iap"}, "$wIAP\r\n", BytesOf("#IAP not supported\r\n"), Mode::Query},
      // Framing must be exact: these get no answer.
      {{}, "$R\n", {}, Mode::Query},
      {{}, "$r\r\n", {}, Mode::Query},
      {{}, " $R\r\n", {}, Mode::Query},
      {{}, "$wIAP \r\n", {}, Mode::Query},
  };
  for (const auto& c : cases) {
    McuModel model(ConfigFrom(c.args));
    const auto actions = Feed(model, BytesOf(c.query), kT0);
    const std::string label = (c.args.empty() ? "" : c.args[0]) + " " + c.query;
    EXPECT_EQ(Sent(actions), c.reply) << label;
    EXPECT_EQ(model.CurrentMode(), c.modeAfter) << label;
    for (const auto& r : Replies(actions)) EXPECT_EQ(r.due, kT0) << label;
  }
}

TEST(McuModelQuery, LineAssembly) {
  McuModel model;
  // A command split over arrivals is answered at its last byte's arrival.
  EXPECT_TRUE(Feed(model, BytesOf("$"), kT0).empty());
  auto actions = Feed(model, BytesOf("R\r\n"), kT0 + Millis(3));
  ASSERT_EQ(Replies(actions).size(), 1u);
  EXPECT_EQ(Replies(actions)[0].due, kT0 + Millis(3));

  // Rubbish lines are skipped; the next command is still answered.
  EXPECT_EQ(Sent(Feed(model, BytesOf("junk\r\n\r\n$R\r\n"), kT0)), McuConfig{}.versionReply);

  // An over-long line is dropped whole, even if it ends like a command.
  Bytes longLine(300, 'x');
  const Bytes cmd = BytesOf("$R\r\n");
  longLine.insert(longLine.end(), cmd.begin(), cmd.end());
  EXPECT_TRUE(Sent(Feed(model, longLine, kT0)).empty());
  EXPECT_EQ(Sent(Feed(model, cmd, kT0)), McuConfig{}.versionReply);

  // 256 bytes including CR LF is still a line; 257 is not.
  Bytes exact(kMaxLineLength - 2, 'y');
  exact.push_back('\r');
  exact.push_back('\n');
  auto notes = Only<LogNote>(Feed(model, exact, kT0));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].text.find("ignored line"), std::string::npos);
  exact.insert(exact.begin(), 'y');
  notes = Only<LogNote>(Feed(model, exact, kT0));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].text.find("discarded"), std::string::npos);
}

TEST(McuModelIap, FullSessionStoresFlashExactly) {
  McuModel model = ModelInIap();
  std::mt19937 random(7);
  Bytes image(kFlashSize);
  for (auto& b : image) b = static_cast<std::uint8_t>(random());

  TimePoint at = kT0;
  for (std::size_t block = 0; block < kBlockCount; ++block) {
    at += Millis(10);
    const Bytes data(image.begin() + static_cast<std::ptrdiff_t>(block * kBlockSize),
                     image.begin() + static_cast<std::ptrdiff_t>((block + 1) * kBlockSize));
    const auto actions = Feed(model, Packet('2', kFlashBase + block * kBlockSize, data), at);
    const auto r = Replies(actions);
    ASSERT_EQ(r.size(), 1u) << block;
    EXPECT_EQ(r[0].bytes, BytesOf(".")) << block;
    EXPECT_EQ(r[0].due, at + Millis(4)) << block;
    EXPECT_TRUE(Only<LogNote>(actions).empty()) << block;
  }
  EXPECT_EQ(model.Flash(), image);

  at += Millis(10);
  const auto actions = Feed(model, EndRecord(), at);
  EXPECT_TRUE(Replies(actions).empty());
  const auto ends = Only<SessionEnd>(actions);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].packets, kBlockCount);
  EXPECT_EQ(ends[0].errors, 0u);
  EXPECT_NE(ends[0].summary.find("elapsed 10.250 s"), std::string::npos) << ends[0].summary;
  EXPECT_EQ(model.CurrentMode(), Mode::Query);
  EXPECT_EQ(model.Flash(), image);
  EXPECT_EQ(Sent(Feed(model, BytesOf("$R\r\n"), at)), McuConfig{}.versionReply);

  // A new session starts from erased flash.
  Feed(model, BytesOf("$wIAP\r\n"), at);
  EXPECT_EQ(model.Flash(), Bytes(kFlashSize, 0xff));
}

TEST(McuModelIap, BadPacketsAreCountedAndStillAnswered) {
  struct Case {
    std::string name;
    std::vector<Bytes> packets;
    std::size_t errors;
    std::vector<std::pair<std::size_t, std::uint8_t>> flashBytes;  // offset, expected value
  };
  const std::vector<Case> cases = {
      {"in order", {BlockPacket(0x8000, 1), BlockPacket(0x8080, 2)}, 0, {{0, 1}, {128, 2}}},
      {"skip ahead is stored and resyncs",
       {BlockPacket(0x8100, 1), BlockPacket(0x8180, 2)}, 1, {{0, 0xff}, {256, 1}, {384, 2}}},
      {"repeat is stored", {BlockPacket(0x8000, 1), BlockPacket(0x8000, 2)}, 1, {{0, 2}}},
      {"below flash", {BlockPacket(0x7f80, 1)}, 1, {{0, 0xff}}},
      {"past flash", {BlockPacket(0x28000, 1)}, 1, {{kFlashSize - 1, 0xff}}},
      {"huge address", {BlockPacket(0xffffff80, 1)}, 1, {}},
      {"misaligned", {BlockPacket(0x8001, 1), BlockPacket(0x8000, 2)}, 1, {{0, 2}, {128, 0xff}}},
      {"wrong record type", {Packet('1', 0x8000, Bytes(kBlockSize, 1))}, 1, {{0, 0xff}}},
      {"not a record", {Bytes(kPacketSize, 'x')}, 1, {{0, 0xff}}},
      {"last block", {BlockPacket(kLastBlockAddress, 9)}, 1, {{kFlashSize - 1, 9}}},
  };
  for (const auto& c : cases) {
    McuModel model = ModelInIap();
    for (const auto& p : c.packets) {
      EXPECT_EQ(Sent(Feed(model, p, kT0)), BytesOf(".")) << c.name;
    }
    EXPECT_EQ(model.SessionErrors(), c.errors) << c.name;
    EXPECT_EQ(model.SessionPackets(), c.packets.size()) << c.name;
    for (const auto& [offset, value] : c.flashBytes) {
      EXPECT_EQ(model.Flash()[offset], value) << c.name << " at " << offset;
    }
    EXPECT_EQ(model.CurrentMode(), Mode::Iap) << c.name;
  }
}

TEST(McuModelIap, EndRecordReportsIncompleteOrWrongSessions) {
  McuModel model = ModelInIap();
  Feed(model, BlockPacket(0x8000, 1), kT0);
  auto ends = Only<SessionEnd>(Feed(model, EndRecord(), kT0));
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].errors, 1u);  // 1023 blocks missing

  model = ModelInIap();
  ends = Only<SessionEnd>(Feed(model, Packet('9', 0x8000, {}), kT0));
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0].errors, 2u);  // wrong address, and nothing written
  EXPECT_EQ(model.CurrentMode(), Mode::Query);
}

TEST(McuModelIap, PeerLossReturnsToQueryMode) {
  McuModel model = ModelInIap();
  const Bytes half(kPacketSize / 2, 'S');
  Feed(model, half, kT0);
  const auto notes = Only<LogNote>(model.PeerLost());
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_TRUE(notes[0].warning);
  EXPECT_EQ(model.CurrentMode(), Mode::Query);
  EXPECT_EQ(Sent(Feed(model, BytesOf("$R\r\n"), kT0)), McuConfig{}.versionReply);

  // A half line is forgotten too.
  Feed(model, BytesOf("$R"), kT0);
  model.PeerLost();
  EXPECT_EQ(Sent(Feed(model, BytesOf("\r\n$e\r\n"), kT0)), McuConfig{}.descriptionReply);
}

TEST(McuModelIap, FlashTimeQueuesBlocksSentTooEarly) {
  McuConfig config;
  config.flashTime = Millis(20);
  McuModel model = ModelInIap(config);
  const auto first = Replies(Feed(model, BlockPacket(0x8000, 1), kT0));
  const auto second = Replies(Feed(model, BlockPacket(0x8080, 1), kT0 + Millis(5)));
  ASSERT_EQ(first.size(), 1u);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(first[0].due, kT0 + Millis(20));
  EXPECT_EQ(second[0].due, kT0 + Millis(40));
}

TEST(McuModelFaults, DropDelayAndNoise) {
  McuModel model = ModelInIap(ConfigFrom({"--drop-reply", "1", "--delay-reply", "2:250", "--noise"}));
  std::vector<std::vector<SendReply>> got;
  for (std::uint32_t block = 0; block < 8; ++block) {
    got.push_back(Replies(Feed(model, BlockPacket(kFlashBase + block * 128, 0x10), kT0)));
  }
  EXPECT_TRUE(got[1].empty());
  EXPECT_EQ(model.Flash()[128], 0x10);  // a dropped reply still means a stored block
  ASSERT_EQ(got[2].size(), 1u);
  EXPECT_EQ(got[2][0].due, kT0 + Millis(4 * 3 + 250));
  for (std::size_t block = 0; block < got.size(); ++block) {
    if (block == 1) continue;
    ASSERT_EQ(got[block].size(), 1u) << block;
    const Bytes& r = got[block][0].bytes;
    ASSERT_GE(r.size(), 2u) << block;
    EXPECT_EQ(r.back(), '.') << block;
    EXPECT_EQ(std::count(r.begin(), r.end(), '.'), 1) << block;
    EXPECT_NE(r.front(), '#') << block;
  }
  EXPECT_EQ(model.SessionErrors(), 0u);

  // Block numbers count from 0 again in the next session.
  Feed(model, EndRecord(), kT0);
  Feed(model, BytesOf("$wIAP\r\n"), kT0);
  Feed(model, BlockPacket(0x8000, 1), kT0);
  EXPECT_TRUE(Replies(Feed(model, BlockPacket(0x8080, 1), kT0)).empty());
}

TEST(McuModelFaults, HangStopsEveryAnswerForGood) {
  McuModel model = ModelInIap(ConfigFrom({"--hang-after", "1"}));
  EXPECT_EQ(Sent(Feed(model, BlockPacket(0x8000, 1), kT0)), BytesOf("."));
  EXPECT_EQ(Sent(Feed(model, BlockPacket(0x8080, 1), kT0)), BytesOf("."));
  EXPECT_TRUE(model.Hung());
  EXPECT_TRUE(Feed(model, BlockPacket(0x8100, 1), kT0).empty());
  EXPECT_EQ(model.Flash()[256], 0xff);
  EXPECT_TRUE(Feed(model, EndRecord(), kT0).empty());
  model.PeerLost();
  EXPECT_TRUE(Feed(model, BytesOf("$R\r\n"), kT0).empty());
}

TEST(McuModelFaults, HangUpComesAfterTheReply) {
  McuModel model = ModelInIap(ConfigFrom({"--hangup-after", "0", "--delay-reply", "0:30"}));
  const auto actions = Feed(model, BlockPacket(0x8000, 1), kT0);
  const auto r = Replies(actions);
  const auto hangups = Only<HangUp>(actions);
  ASSERT_EQ(r.size(), 1u);
  ASSERT_EQ(hangups.size(), 1u);
  EXPECT_EQ(hangups[0].due, r[0].due);
  EXPECT_EQ(r[0].due, kT0 + Millis(34));
  EXPECT_TRUE(Feed(model, BlockPacket(0x8080, 1), kT0).empty());

  // A dropped reply still hangs up at the time it would have gone.
  model = ModelInIap(ConfigFrom({"--hangup-after", "0", "--drop-reply", "0"}));
  const auto quiet = Feed(model, BlockPacket(0x8000, 1), kT0);
  EXPECT_TRUE(Replies(quiet).empty());
  ASSERT_EQ(Only<HangUp>(quiet).size(), 1u);
}

}  // namespace
}  // namespace fennwick::sim::testing
