#include "sim/text_escape.h"

#include <cstdio>

namespace fennwick::sim {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<Bytes> DecodeEscapes(std::string_view text, std::string& error) {
  Bytes out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\') {
      out.push_back(static_cast<std::uint8_t>(c));
      continue;
    }
    if (i + 1 >= text.size()) {
      error = "a lone '\\' at the end (write \\\\ for a backslash)";
      return std::nullopt;
    }
    const char kind = text[++i];
    switch (kind) {
      case 'r': out.push_back('\r'); break;
      case 'n': out.push_back('\n'); break;
      case 't': out.push_back('\t'); break;
      case '\\': out.push_back('\\'); break;
      case 'x': {
        int value = -1;
        std::size_t digits = 0;
        while (digits < 2 && i + 1 < text.size() && HexValue(text[i + 1]) >= 0) {
          value = (value < 0 ? 0 : value * 16) + HexValue(text[++i]);
          ++digits;
        }
        if (digits == 0) {
          error = "\\x must be followed by one or two hex digits";
          return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(value));
        break;
      }
      default:
        error = std::string("unknown escape \\") + kind + " (known: \\r \\n \\t \\\\ \\xHH)";
        return std::nullopt;
    }
  }
  return out;
}

Bytes TerminatedLine(Bytes line) {
  if (line.empty() || line.back() != '\n') {
    line.push_back('\r');
    line.push_back('\n');
  }
  return line;
}

std::string Printable(const Bytes& bytes) {
  std::string out;
  for (const std::uint8_t b : bytes) {
    if (b == '\r') {
      out += "\\r";
    } else if (b == '\n') {
      out += "\\n";
    } else if (b == '\\') {
      out += "\\\\";
    } else if (b >= 0x20 && b < 0x7f) {
      out.push_back(static_cast<char>(b));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", b);
      out += buf;
    }
  }
  return out;
}

std::string HexBytes(const std::uint8_t* data, std::size_t size) {
  std::string out;
  out.reserve(size * 3);
  for (std::size_t i = 0; i < size; ++i) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    if (i) out.push_back(' ');
    out += buf;
  }
  return out;
}

}  // namespace fennwick::sim
