#pragma once
// The device log as standard output carries it: Unix text in the user's character set, or
// (--raw) the device's bytes exactly as they came.
#include <cstdint>
#include <string>
#include <string_view>

namespace fennwick {

struct OutputStyle {
  bool raw = false;   // the device's bytes: CR LF line ends, its 8-bit code page, every control byte
  bool utf8 = true;   // the locale writes UTF-8; else ASCII, with other characters escaped
};

// One device byte (Windows-1252) as text shows it: itself when it is printable ASCII, its
// UTF-8 form in a UTF-8 locale, else "\xNN". Control bytes (C0, DEL and the code page's
// undefined bytes, which stand for C1 controls) are always escaped, so that no reply of the
// MCU can steer the terminal. Tab, CR and LF are the caller's to handle.
std::string ShownByte(uint8_t byte, bool utf8);

// Converts the log piece by piece as it arrives. As text: CR LF and a lone CR become LF,
// bytes as ShownByte gives them, and the text ends with a line end. Raw: the bytes pass.
class OutputText {
 public:
  explicit OutputText(OutputStyle style) : style_(style) {}

  // The text for the next bytes. A CR at their end is held until the next byte shows
  // whether an LF follows it.
  std::string Put(std::string_view bytes);
  // As text, the held CR and a line end after text that has none; raw, nothing.
  std::string End();
  const OutputStyle& style() const { return style_; }

 private:
  OutputStyle style_;
  bool heldCr_ = false;
  bool lineOpen_ = false;  // text since the last line end
};

// A display's column count for UTF-8 text: one per character.
size_t TextColumns(std::string_view text);
// The last `columns` columns of `text`, with "..." before them when it is cut.
std::string TextTail(std::string_view text, size_t columns);
// The first `columns` columns of `text`, cut at a character's start.
std::string TextHead(std::string_view text, size_t columns);

}  // namespace fennwick
