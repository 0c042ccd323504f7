#include "sim/mcu_model.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/text_escape.h"

namespace fennwick::sim {
namespace {

const Bytes kRefusal = ToBytes("#IAP not supported\r\n");

// Line noise put before block replies. None holds '.', which ends a reply, nor '#' or
// '$', which begin one: the reply itself must still be found after the noise.
const std::array<Bytes, 4> kNoise = {
    Bytes{'~', '?'},
    Bytes{0xff, 0xfe},
    Bytes{0x00},
    Bytes{'?', 0x80, '~'},
};

std::string Hex32(std::uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(value));
  return buf;
}

}  // namespace

Bytes ToBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

McuModel::McuModel(McuConfig config) : config_(std::move(config)), flash_(kFlashSize, 0xff) {
  line_.reserve(kMaxLineLength);
  packet_.reserve(kPacketSize);
}

std::vector<Action> McuModel::Feed(std::uint8_t byte, TimePoint arrival) {
  std::vector<Action> out;
  if (config_.silent || hung_) return out;
  if (mode_ == Mode::Query) {
    TakeLineByte(byte, arrival, out);
  } else {
    packet_.push_back(byte);
    if (packet_.size() == kPacketSize) {
      TakePacket(arrival, out);
      packet_.clear();
    }
  }
  return out;
}

std::vector<Action> McuModel::PeerLost() {
  std::vector<Action> out;
  if (mode_ == Mode::Iap) {
    out.push_back(LogNote{true, "peer hung up during IAP after " + std::to_string(packets_) +
                                    " blocks; back to query mode"});
  }
  mode_ = Mode::Query;
  ResetAssembly();
  return out;
}

void McuModel::ResetAssembly() {
  line_.clear();
  lineLength_ = 0;
  packet_.clear();
}

void McuModel::TakeLineByte(std::uint8_t byte, TimePoint arrival, std::vector<Action>& out) {
  ++lineLength_;
  if (line_.size() < kMaxLineLength) line_.push_back(byte);
  if (byte != '\n') return;
  if (lineLength_ > kMaxLineLength) {
    out.push_back(LogNote{false, "discarded a line of " + std::to_string(lineLength_) +
                                     " bytes (longer than " + std::to_string(kMaxLineLength) +
                                     ")"});
  } else {
    HandleLine(arrival, out);
  }
  line_.clear();
  lineLength_ = 0;
}

void McuModel::HandleLine(TimePoint arrival, std::vector<Action>& out) {
  // Commands must be exact, CR LF included: a host that gets the framing wrong should
  // see no answer rather than have it silently forgiven.
  static const Bytes kVersionQuery = ToBytes("$R\r\n");
  static const Bytes kDescriptionQuery = ToBytes("$e\r\n");
  static const Bytes kIapRequest = ToBytes("$wIAP\r\n");

  if (line_ == kVersionQuery) {
    out.push_back(SendReply{arrival, config_.versionReply});
  } else if (line_ == kDescriptionQuery) {
    out.push_back(SendReply{arrival, config_.descriptionReply});
  } else if (line_ == kIapRequest) {
    if (config_.refuseIap) {
      out.push_back(SendReply{arrival, kRefusal});
      out.push_back(LogNote{false, "refused IAP; staying in query mode"});
    } else {
      out.push_back(SendReply{arrival, config_.iapReply});
      out.push_back(LogNote{false, "entered IAP mode"});
      EnterIap(arrival);
    }
  } else {
    out.push_back(LogNote{false, "ignored line \"" + Printable(line_) + "\""});
  }
}

void McuModel::EnterIap(TimePoint arrival) {
  mode_ = Mode::Iap;
  ResetAssembly();
  // Every session starts from erased flash, so a dump shows exactly what this session wrote.
  std::fill(flash_.begin(), flash_.end(), 0xff);
  written_.reset();
  expectedAddress_ = kFlashBase;
  packets_ = 0;
  errors_ = 0;
  sessionStart_ = arrival;
  flashFree_ = arrival;
}

void McuModel::Error(std::vector<Action>& out, std::string text) {
  ++errors_;
  out.push_back(LogNote{true, std::move(text)});
}

void McuModel::TakePacket(TimePoint arrival, std::vector<Action>& out) {
  if (packet_[0] == 'S' && packet_[1] == '9') {
    TakeEndRecord(arrival, out);
  } else {
    TakeBlock(arrival, out);
  }
}

void McuModel::TakeBlock(TimePoint arrival, std::vector<Action>& out) {
  const std::size_t number = packets_++;
  const std::string label = "block " + std::to_string(number) + ": ";
  const std::uint32_t address = (std::uint32_t{packet_[2]} << 24) |
                                (std::uint32_t{packet_[3]} << 16) |
                                (std::uint32_t{packet_[4]} << 8) | std::uint32_t{packet_[5]};
  TimePoint ready = arrival;

  if (packet_[0] != 'S' || packet_[1] != '2') {
    Error(out, label + "bad record type \"" + Printable(Bytes(packet_.begin(), packet_.begin() + 2)) +
                   "\" (expected \"S2\"); not stored");
  } else if (address < kFlashBase || address > kLastBlockAddress || address % kBlockSize != 0) {
    Error(out, label + "address " + Hex32(address) + " is outside " + Hex32(kFlashBase) + ".." +
                   Hex32(kLastBlockAddress) + " or not 128-aligned; not stored");
  } else {
    if (address != expectedAddress_) {
      Error(out, label + "address " + Hex32(address) + " out of order (expected " +
                     Hex32(expectedAddress_) + "); stored");
    }
    const std::size_t offset = address - kFlashBase;
    std::copy(packet_.begin() + 6, packet_.end(), flash_.begin() + static_cast<std::ptrdiff_t>(offset));
    written_.set(offset / kBlockSize);
    expectedAddress_ = address + kBlockSize;
    // Blocks are written one after another: a block that comes while the previous one is
    // still being written waits for it.
    ready = std::max(arrival, flashFree_) + config_.flashTime;
    flashFree_ = ready;
  }

  TimePoint due = ready;
  if (const auto delay = config_.delayReply.find(number); delay != config_.delayReply.end()) {
    due += delay->second;
    out.push_back(LogNote{false, label + "reply delayed by " + std::to_string(delay->second.count()) + " ms"});
  }
  if (config_.dropReply.count(number)) {
    out.push_back(LogNote{false, label + "reply dropped"});
  } else {
    Bytes reply;
    if (config_.noise) reply = kNoise[number % kNoise.size()];
    reply.insert(reply.end(), config_.blockReply.begin(), config_.blockReply.end());
    out.push_back(SendReply{due, std::move(reply)});
  }

  if (config_.hangupAfter.count(number)) {
    hung_ = true;
    out.push_back(LogNote{false, label + "hanging up the line"});
    out.push_back(HangUp{due});
  } else if (config_.hangAfter.count(number)) {
    hung_ = true;
    out.push_back(LogNote{false, label + "hanging: no more answers"});
  }
}

void McuModel::TakeEndRecord(TimePoint arrival, std::vector<Action>& out) {
  const std::uint32_t address = (std::uint32_t{packet_[2]} << 24) |
                                (std::uint32_t{packet_[3]} << 16) |
                                (std::uint32_t{packet_[4]} << 8) | std::uint32_t{packet_[5]};
  if (address != kLastBlockAddress) {
    Error(out, "end record address " + Hex32(address) + " (expected " + Hex32(kLastBlockAddress) + ")");
  }
  if (written_.count() != kBlockCount) {
    Error(out, "end record with only " + std::to_string(written_.count()) + " of " +
                   std::to_string(kBlockCount) + " blocks written");
  }
  const double seconds = std::chrono::duration<double>(arrival - sessionStart_).count();
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.3f", seconds);
  out.push_back(SessionEnd{packets_, errors_,
                           "IAP session ended: blocks " + std::to_string(packets_) + ", errors " +
                               std::to_string(errors_) + ", elapsed " + elapsed + " s"});
  out.push_back(LogNote{false, "back to query mode"});
  mode_ = Mode::Query;
  ResetAssembly();
}

}  // namespace fennwick::sim
