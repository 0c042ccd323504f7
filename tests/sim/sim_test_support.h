#pragma once
// Helpers shared by the simulator's tests: packets, feeding the model, reading its answers.
#include <string>
#include <string_view>
#include <vector>

#include "sim/mcu_model.h"
#include "sim/sim_options.h"

namespace fennwick::sim::testing {

inline Bytes BytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

inline Bytes Packet(char type, std::uint32_t address, const Bytes& data) {
  Bytes p(kPacketSize, 0);
  p[0] = 'S';
  p[1] = static_cast<std::uint8_t>(type);
  for (int i = 0; i < 4; ++i) p[2 + i] = static_cast<std::uint8_t>(address >> (24 - 8 * i));
  for (std::size_t i = 0; i < data.size() && 6 + i < kPacketSize; ++i) p[6 + i] = data[i];
  return p;
}

inline Bytes BlockPacket(std::uint32_t address, std::uint8_t fill) {
  return Packet('2', address, Bytes(kBlockSize, fill));
}

inline Bytes EndRecord() { return Packet('9', kLastBlockAddress, Bytes(kBlockSize, 0xa5)); }

// Feeds all bytes arriving at `at` and gathers the actions.
inline std::vector<Action> Feed(McuModel& model, const Bytes& in, TimePoint at) {
  std::vector<Action> all;
  for (const std::uint8_t b : in) {
    auto some = model.Feed(b, at);
    all.insert(all.end(), some.begin(), some.end());
  }
  return all;
}

// The bytes of all replies, in order.
inline Bytes Sent(const std::vector<Action>& actions) {
  Bytes out;
  for (const auto& a : actions) {
    if (const auto* r = std::get_if<SendReply>(&a)) out.insert(out.end(), r->bytes.begin(), r->bytes.end());
  }
  return out;
}

inline std::vector<SendReply> Replies(const std::vector<Action>& actions) {
  std::vector<SendReply> out;
  for (const auto& a : actions) {
    if (const auto* r = std::get_if<SendReply>(&a)) out.push_back(*r);
  }
  return out;
}

template <typename T>
std::vector<T> Only(const std::vector<Action>& actions) {
  std::vector<T> out;
  for (const auto& a : actions) {
    if (const auto* x = std::get_if<T>(&a)) out.push_back(*x);
  }
  return out;
}

// Options as the command line would give them; fails the test on a parse error.
McuConfig ConfigFrom(const std::vector<std::string>& args);

}  // namespace fennwick::sim::testing
