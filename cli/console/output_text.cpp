#include "cli/console/output_text.h"

#include <array>
#include <cstdio>

#include "platform/text.h"

namespace fennwick {

namespace {

// Each device byte's UTF-8 form, once.
const std::array<std::string, 256>& Utf8Forms() {
  static const std::array<std::string, 256> forms = [] {
    std::array<std::string, 256> f;
    for (int b = 0; b < 256; ++b) {
      const std::u16string unit = Cp1252ToUtf16(std::string(1, static_cast<char>(b)));
      if (!Utf16ToUtf8(unit, f[static_cast<size_t>(b)])) f[static_cast<size_t>(b)].clear();
    }
    return f;
  }();
  return forms;
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string ShownByte(uint8_t byte, bool utf8) {
  const std::string& form = Utf8Forms()[byte];
  // A code page byte without a character of its own maps to a C1 control (two bytes,
  // 0xC2 0x80..0x9F), which a terminal may act on like ESC.
  const bool c1 = form.size() == 2 && static_cast<uint8_t>(form[0]) == 0xC2 && static_cast<uint8_t>(form[1]) < 0xA0;
  if (byte >= 0x20 && byte < 0x7F) return std::string(1, static_cast<char>(byte));
  if (byte >= 0x80 && utf8 && !c1 && !form.empty()) return form;
  char hex[8];
  std::snprintf(hex, sizeof hex, "\\x%02X", byte);
  return hex;
}

std::string OutputText::Put(std::string_view bytes) {
  if (style_.raw) return std::string(bytes);
  std::string text;
  for (const char ch : bytes) {
    if (heldCr_) {
      heldCr_ = false;
      text += '\n';
      lineOpen_ = false;
      if (ch == '\n') continue;  // CR LF: one line end
    }
    if (ch == '\r') {
      heldCr_ = true;
    } else if (ch == '\n') {
      text += '\n';
      lineOpen_ = false;
    } else {
      text += ch == '\t' ? std::string(1, '\t') : ShownByte(static_cast<uint8_t>(ch), style_.utf8);
      lineOpen_ = true;
    }
  }
  return text;
}

std::string OutputText::End() {
  if (style_.raw) return {};
  const bool end = heldCr_ || lineOpen_;
  heldCr_ = lineOpen_ = false;
  return end ? "\n" : "";
}

size_t TextColumns(std::string_view text) {
  size_t n = 0;
  for (const char c : text) n += IsContinuation(c) ? 0 : 1;
  return n;
}

std::string TextHead(std::string_view text, size_t columns) {
  size_t seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsContinuation(text[i])) continue;
    if (seen++ == columns) return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string TextTail(std::string_view text, size_t columns) {
  const size_t have = TextColumns(text);
  if (have <= columns) return std::string(text);
  if (columns <= 3) return std::string(columns, '.');
  size_t skip = have - (columns - 3);  // characters to drop from the front
  size_t i = 0;
  while (i < text.size() && (skip > 0 || IsContinuation(text[i]))) {
    if (!IsContinuation(text[i])) --skip;
    ++i;
  }
  while (i < text.size() && IsContinuation(text[i])) ++i;
  return std::string("...").append(text.substr(i));
}

}  // namespace fennwick
