#include "cli/records/record_text.h"

#include "platform/text.h"

namespace fennwick {

namespace {

// The length of the well-formed UTF-8 sequence at `at`, or 0.
size_t Utf8Length(std::string_view s, size_t at) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char c = b(at);
  size_t n = 0;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (at + n > s.size()) return 0;
  if (b(at + 1) < lo || b(at + 1) > hi) return 0;
  for (size_t i = 2; i < n; ++i) {
    if (b(at + i) < 0x80 || b(at + i) > 0xBF) return 0;
  }
  return n;
}

void Hex(std::string& out, unsigned char c) {
  static const char kDigits[] = "0123456789ABCDEF";
  out += "\\x";
  out += kDigits[c >> 4];
  out += kDigits[c & 0xF];
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// `backslash`: a backslash escaped too, so that the text can be read back. `ascii`: every
// byte from 0x80 escaped, UTF-8 or not.
std::string Escaped(std::string_view text, bool quote, bool backslash, bool ascii = false) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80 && ascii) {
      Hex(out, c);
      ++i;
      continue;
    }
    if (c >= 0x80) {
      const size_t n = Utf8Length(text, i);
      // C1 controls (U+0080..U+009F) move a terminal as C0 ones do.
      if (n == 0 || (n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0)) {
        for (size_t k = 0; k < (n == 0 ? 1 : n); ++k) Hex(out, static_cast<unsigned char>(text[i + k]));
        i += n == 0 ? 1 : n;
      } else {
        out.append(text.substr(i, n));
        i += n;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '\\': out += backslash ? "\\\\" : "\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '"':
        out += quote ? "\\\"" : "\"";
        break;
      default:
        if (c < 0x20 || c == 0x7F) {
          Hex(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}

}  // namespace

std::string RecordEscaped(std::string_view text, bool quote) { return Escaped(text, quote, true); }

std::string ShownText(std::string_view text) { return Escaped(text, false, false); }

std::string RecordQuoted(std::string_view text) {
  std::string out(1, '"');
  out += RecordEscaped(text, true);
  out += '"';
  return out;
}

std::string AsciiQuoted(std::string_view text) {
  std::string out(1, '"');
  out += Escaped(text, true, true, true);
  out += '"';
  return out;
}

bool RecordUnescape(std::string_view text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\': out += '\\'; break;
      case '"': out += '"'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 't': out += '\t'; break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        const int hi = HexValue(text[i + 1]), lo = HexValue(text[i + 2]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

std::string DeviceTextUtf8(std::string_view cp1252) {
  std::string lf;
  lf.reserve(cp1252.size());
  for (size_t i = 0; i < cp1252.size(); ++i) {
    if (cp1252[i] == '\r' && i + 1 < cp1252.size() && cp1252[i + 1] == '\n') continue;
    lf += cp1252[i];
  }
  std::string utf8;
  return Utf16ToUtf8(Cp1252ToUtf16(lf), utf8) ? utf8 : std::string();
}

}  // namespace fennwick
