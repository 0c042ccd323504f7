#include "sim/mcu_model.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

#include "sim/text_escape.hpp"

namespace fennwick::sim {
namespace {

const Bytes kRefusal = toBytes("#IAP not supported\r\n");

// Line noise put before block replies. None holds '.', which ends a reply, nor '#' or
// '$', which begin one: the reply itself must still be found after the noise.
const std::array<Bytes, 4> kNoise = {
    Bytes{'~', '?'},
    Bytes{0xff, 0xfe},
    Bytes{0x00},
    Bytes{'?', 0x80, '~'},
};

std::string hex32(std::uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(value));
  return buf;
}

}  // namespace

Bytes toBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

McuModel::McuModel(McuConfig config) : config_(std::move(config)), flash_(kFlashSize, 0xff) {
  line_.reserve(kMaxLineLength);
  packet_.reserve(kPacketSize);
}

std::vector<Action> McuModel::feed(std::uint8_t byte, TimePoint arrival) {
  std::vector<Action> out;
  if (config_.silent || hung_) return out;
  if (mode_ == Mode::Query) {
    takeLineByte(byte, arrival, out);
  } else {
    packet_.push_back(byte);
    if (packet_.size() == kPacketSize) {
      takePacket(arrival, out);
      packet_.clear();
    }
  }
  return out;
}

std::vector<Action> McuModel::peerLost() {
  std::vector<Action> out;
  if (mode_ == Mode::Iap) {
    out.push_back(LogNote{true, "peer hung up during IAP after " + std::to_string(packets_) +
                                    " blocks; back to query mode"});
  }
  mode_ = Mode::Query;
  resetAssembly();
  return out;
}

void McuModel::resetAssembly() {
  line_.clear();
  line_length_ = 0;
  packet_.clear();
}

void McuModel::takeLineByte(std::uint8_t byte, TimePoint arrival, std::vector<Action>& out) {
  ++line_length_;
  if (line_.size() < kMaxLineLength) line_.push_back(byte);
  if (byte != '\n') return;
  if (line_length_ > kMaxLineLength) {
    out.push_back(LogNote{false, "discarded a line of " + std::to_string(line_length_) +
                                     " bytes (longer than " + std::to_string(kMaxLineLength) +
                                     ")"});
  } else {
    handleLine(arrival, out);
  }
  line_.clear();
  line_length_ = 0;
}

void McuModel::handleLine(TimePoint arrival, std::vector<Action>& out) {
  // Commands must be exact, CR LF included: a host that gets the framing wrong should
  // see no answer rather than have it silently forgiven.
  static const Bytes kVersionQuery = toBytes("$R\r\n");
  static const Bytes kDescriptionQuery = toBytes("$e\r\n");
  static const Bytes kIapRequest = toBytes("$wIAP\r\n");

  if (line_ == kVersionQuery) {
    out.push_back(SendReply{arrival, config_.version_reply});
  } else if (line_ == kDescriptionQuery) {
    out.push_back(SendReply{arrival, config_.description_reply});
  } else if (line_ == kIapRequest) {
    if (config_.refuse_iap) {
      out.push_back(SendReply{arrival, kRefusal});
      out.push_back(LogNote{false, "refused IAP; staying in query mode"});
    } else {
      out.push_back(SendReply{arrival, config_.iap_reply});
      out.push_back(LogNote{false, "entered IAP mode"});
      enterIap(arrival);
    }
  } else {
    out.push_back(LogNote{false, "ignored line \"" + printable(line_) + "\""});
  }
}

void McuModel::enterIap(TimePoint arrival) {
  mode_ = Mode::Iap;
  resetAssembly();
  // Every session starts from erased flash, so a dump shows exactly what this session wrote.
  std::fill(flash_.begin(), flash_.end(), 0xff);
  written_.reset();
  expected_address_ = kFlashBase;
  packets_ = 0;
  errors_ = 0;
  session_start_ = arrival;
  flash_free_ = arrival;
}

void McuModel::error(std::vector<Action>& out, std::string text) {
  ++errors_;
  out.push_back(LogNote{true, std::move(text)});
}

void McuModel::takePacket(TimePoint arrival, std::vector<Action>& out) {
  if (packet_[0] == 'S' && packet_[1] == '9') {
    takeEndRecord(arrival, out);
  } else {
    takeBlock(arrival, out);
  }
}

void McuModel::takeBlock(TimePoint arrival, std::vector<Action>& out) {
  const std::size_t number = packets_++;
  const std::string label = "block " + std::to_string(number) + ": ";
  const std::uint32_t address = (std::uint32_t{packet_[2]} << 24) |
                                (std::uint32_t{packet_[3]} << 16) |
                                (std::uint32_t{packet_[4]} << 8) | std::uint32_t{packet_[5]};
  TimePoint ready = arrival;

  if (packet_[0] != 'S' || packet_[1] != '2') {
    error(out, label + "bad record type \"" + printable(Bytes(packet_.begin(), packet_.begin() + 2)) +
                   "\" (expected \"S2\"); not stored");
  } else if (address < kFlashBase || address > kLastBlockAddress || address % kBlockSize != 0) {
    error(out, label + "address " + hex32(address) + " is outside " + hex32(kFlashBase) + ".." +
                   hex32(kLastBlockAddress) + " or not 128-aligned; not stored");
  } else {
    if (address != expected_address_) {
      error(out, label + "address " + hex32(address) + " out of order (expected " +
                     hex32(expected_address_) + "); stored");
    }
    const std::size_t offset = address - kFlashBase;
    std::copy(packet_.begin() + 6, packet_.end(), flash_.begin() + static_cast<std::ptrdiff_t>(offset));
    written_.set(offset / kBlockSize);
    expected_address_ = address + kBlockSize;
    // Blocks are written one after another: a block that comes while the previous one is
    // still being written waits for it.
    ready = std::max(arrival, flash_free_) + config_.flash_time;
    flash_free_ = ready;
  }

  TimePoint due = ready;
  if (const auto delay = config_.delay_reply.find(number); delay != config_.delay_reply.end()) {
    due += delay->second;
    out.push_back(LogNote{false, label + "reply delayed by " + std::to_string(delay->second.count()) + " ms"});
  }
  if (config_.drop_reply.count(number)) {
    out.push_back(LogNote{false, label + "reply dropped"});
  } else {
    Bytes reply;
    if (config_.noise) reply = kNoise[number % kNoise.size()];
    reply.insert(reply.end(), config_.block_reply.begin(), config_.block_reply.end());
    out.push_back(SendReply{due, std::move(reply)});
  }

  if (config_.hangup_after.count(number)) {
    hung_ = true;
    out.push_back(LogNote{false, label + "hanging up the line"});
    out.push_back(HangUp{due});
  } else if (config_.hang_after.count(number)) {
    hung_ = true;
    out.push_back(LogNote{false, label + "hanging: no more answers"});
  }
}

void McuModel::takeEndRecord(TimePoint arrival, std::vector<Action>& out) {
  const std::uint32_t address = (std::uint32_t{packet_[2]} << 24) |
                                (std::uint32_t{packet_[3]} << 16) |
                                (std::uint32_t{packet_[4]} << 8) | std::uint32_t{packet_[5]};
  if (address != kLastBlockAddress) {
    error(out, "end record address " + hex32(address) + " (expected " + hex32(kLastBlockAddress) + ")");
  }
  if (written_.count() != kBlockCount) {
    error(out, "end record with only " + std::to_string(written_.count()) + " of " +
                   std::to_string(kBlockCount) + " blocks written");
  }
  const double seconds = std::chrono::duration<double>(arrival - session_start_).count();
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.3f", seconds);
  out.push_back(SessionEnd{packets_, errors_,
                           "IAP session ended: blocks " + std::to_string(packets_) + ", errors " +
                               std::to_string(errors_) + ", elapsed " + elapsed + " s"});
  out.push_back(LogNote{false, "back to query mode"});
  mode_ = Mode::Query;
  resetAssembly();
}

}  // namespace fennwick::sim
