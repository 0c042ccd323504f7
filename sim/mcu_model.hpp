// The simulated MCU's protocol state machine, kept free of any pty or clock so that it can
// be driven byte by byte from tests. The caller feeds each received byte at the time it
// has fully arrived on the line and carries out the actions that come back.
#pragma once

#include <bitset>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace fennwick::sim {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Millis = std::chrono::milliseconds;

inline constexpr std::uint32_t kFlashBase = 0x8000;
inline constexpr std::size_t kBlockSize = 128;
inline constexpr std::size_t kBlockCount = 1024;
inline constexpr std::size_t kFlashSize = kBlockSize * kBlockCount;
inline constexpr std::uint32_t kLastBlockAddress = kFlashBase + kFlashSize - kBlockSize;
inline constexpr std::size_t kPacketSize = 2 + 4 + kBlockSize;
inline constexpr std::size_t kMaxLineLength = 256;

Bytes toBytes(std::string_view text);

struct McuConfig {
  Bytes version_reply = toBytes("$R:01FNW-107 Fennwick simulated MCU\r\n");
  Bytes description_reply = toBytes("$e:Fennwick MCU simulator, 128 KiB flash at 0x8000\r\n");
  Bytes iap_reply = toBytes("$wIAP OK\r\n");
  Bytes block_reply = toBytes(".");
  bool silent = false;
  bool refuse_iap = false;
  Millis flash_time{4};

  // Fault injection; block numbers count the answered packets of one IAP session from 0.
  std::set<std::size_t> drop_reply;
  std::map<std::size_t, Millis> delay_reply;
  bool noise = false;
  std::set<std::size_t> hang_after;
  std::set<std::size_t> hangup_after;
};

// Send these bytes, the first of them not before `due`.
struct SendReply {
  TimePoint due;
  Bytes bytes;
};

// A line for the log; warnings are always shown, the rest only when verbose.
struct LogNote {
  bool warning = false;
  std::string text;
};

// An IAP session ended with its end record: write the flash out now.
struct SessionEnd {
  std::size_t packets = 0;
  std::size_t errors = 0;
  std::string summary;
};

// Close the line and stop, once everything queued before has been sent and `due` has come.
struct HangUp {
  TimePoint due;
};

using Action = std::variant<SendReply, LogNote, SessionEnd, HangUp>;

enum class Mode { Query, Iap };

class McuModel {
 public:
  explicit McuModel(McuConfig config = {});

  std::vector<Action> feed(std::uint8_t byte, TimePoint arrival);
  // The peer closed the line: whatever was half received is gone.
  std::vector<Action> peerLost();

  Mode mode() const { return mode_; }
  // True once a hang or hang-up fault has fired: nothing is answered any more.
  bool hung() const { return hung_; }
  const Bytes& flash() const { return flash_; }
  std::size_t sessionErrors() const { return errors_; }
  std::size_t sessionPackets() const { return packets_; }

 private:
  void takeLineByte(std::uint8_t byte, TimePoint arrival, std::vector<Action>& out);
  void handleLine(TimePoint arrival, std::vector<Action>& out);
  void enterIap(TimePoint arrival);
  void takePacket(TimePoint arrival, std::vector<Action>& out);
  void takeBlock(TimePoint arrival, std::vector<Action>& out);
  void takeEndRecord(TimePoint arrival, std::vector<Action>& out);
  void error(std::vector<Action>& out, std::string text);
  void resetAssembly();

  McuConfig config_;
  Mode mode_ = Mode::Query;
  bool hung_ = false;

  Bytes line_;
  std::size_t line_length_ = 0;
  Bytes packet_;

  Bytes flash_;
  std::bitset<kBlockCount> written_;
  std::uint32_t expected_address_ = kFlashBase;
  std::size_t packets_ = 0;
  std::size_t errors_ = 0;
  TimePoint session_start_{};
  TimePoint flash_free_{};
};

}  // namespace fennwick::sim
