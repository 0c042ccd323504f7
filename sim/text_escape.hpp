// Turning option text into reply bytes and bytes back into readable log text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "sim/mcu_model.hpp"

namespace fennwick::sim {

// Decodes \r \n \t \\ and \xHH (one or two hex digits) so that any 8-bit reply can be
// given on a command line. Returns nullopt and sets `error` on a malformed escape.
std::optional<Bytes> decodeEscapes(std::string_view text, std::string& error);

// A reply line always reaches the host terminated: add "\r\n" unless it already ends in "\n".
Bytes terminatedLine(Bytes line);

// Printable rendering for logs: printable ASCII kept, everything else as \r, \n or \xHH.
std::string printable(const Bytes& bytes);

// "24 52 0d 0a" style rendering for byte traces.
std::string hexBytes(const std::uint8_t* data, std::size_t size);

}  // namespace fennwick::sim
