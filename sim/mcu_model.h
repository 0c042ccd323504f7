#pragma once
// The simulated MCU's protocol state machine, kept free of any pty or clock so that it can
// be driven byte by byte from tests. The caller feeds each received byte at the time it
// has fully arrived on the line and carries out the actions that come back.
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

Bytes ToBytes(std::string_view text);

struct McuConfig {
  Bytes versionReply = ToBytes("$R:01FNW-107 Fennwick simulated MCU\r\n");
  Bytes descriptionReply = ToBytes("$e:Fennwick MCU simulator, 128 KiB flash at 0x8000\r\n");
  Bytes iapReply = ToBytes("$wIAP OK\r\n");
  Bytes blockReply = ToBytes(".");
  bool silent = false;
  bool refuseIap = false;
  Millis flashTime{4};

  // Fault injection; block numbers count the answered packets of one IAP session from 0.
  std::set<std::size_t> dropReply;
  std::map<std::size_t, Millis> delayReply;
  bool noise = false;
  std::set<std::size_t> hangAfter;
  std::set<std::size_t> hangupAfter;
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

  std::vector<Action> Feed(std::uint8_t byte, TimePoint arrival);
  // The peer closed the line: whatever was half received is gone.
  std::vector<Action> PeerLost();

  Mode CurrentMode() const { return mode_; }
  // True once a hang or hang-up fault has fired: nothing is answered any more.
  bool Hung() const { return hung_; }
  const Bytes& Flash() const { return flash_; }
  std::size_t SessionErrors() const { return errors_; }
  std::size_t SessionPackets() const { return packets_; }

 private:
  void TakeLineByte(std::uint8_t byte, TimePoint arrival, std::vector<Action>& out);
  void HandleLine(TimePoint arrival, std::vector<Action>& out);
  void EnterIap(TimePoint arrival);
  void TakePacket(TimePoint arrival, std::vector<Action>& out);
  void TakeBlock(TimePoint arrival, std::vector<Action>& out);
  void TakeEndRecord(TimePoint arrival, std::vector<Action>& out);
  void Error(std::vector<Action>& out, std::string text);
  void ResetAssembly();

  McuConfig config_;
  Mode mode_ = Mode::Query;
  bool hung_ = false;

  Bytes line_;
  std::size_t lineLength_ = 0;
  Bytes packet_;

  Bytes flash_;
  std::bitset<kBlockCount> written_;
  std::uint32_t expectedAddress_ = kFlashBase;
  std::size_t packets_ = 0;
  std::size_t errors_ = 0;
  TimePoint sessionStart_{};
  TimePoint flashFree_{};
};

}  // namespace fennwick::sim
