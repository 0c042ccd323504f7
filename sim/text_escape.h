#pragma once
// Turning option text into reply bytes and bytes back into readable log text.
#include <optional>
#include <string>
#include <string_view>

#include "sim/mcu_model.h"

namespace fennwick::sim {

// Decodes \r \n \t \\ and \xHH (one or two hex digits) so that any 8-bit reply can be
// given on a command line. Returns nullopt and sets `error` on a malformed escape.
std::optional<Bytes> DecodeEscapes(std::string_view text, std::string& error);

// A reply line always reaches the host terminated: add "\r\n" unless it already ends in "\n".
Bytes TerminatedLine(Bytes line);

// Printable rendering for logs: printable ASCII kept, everything else as \r, \n or \xHH.
std::string Printable(const Bytes& bytes);

// "24 52 0d 0a" style rendering for byte traces.
std::string HexBytes(const std::uint8_t* data, std::size_t size);

}  // namespace fennwick::sim
