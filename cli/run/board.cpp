#include "cli/run/board.h"

#include "platform/text.h"

namespace fennwick {

void CaptureEdit::ReplaceSel(const std::u16string& text) {
  text_ += Utf16ToCp1252(text);
  inner_.ReplaceSel(text);
  if (onChange) onChange();
}

Board::Board(const std::optional<std::string>& portPath, const SerialWrap& wrap, ILogEdit& log,
             IProgressCtrl& progress, SayFn say)
    : wrapped(wrap ? wrap(serial) : nullptr),
      capture(log),
      port(wrapped ? *wrapped : static_cast<ISerialDevice&>(serial), DefaultClock()),
      progress_(progress),
      say_(std::move(say)) {
  port.SetGivenPort(portPath);
  port.SetConsole(&capture, &progress);
  port.SetBuffers(version, packet);
}

void Board::Quiet(bool quiet) {
  if (quiet) {
    port.SetConsole(&null_, &null_);
  } else {
    port.SetConsole(&capture, &progress_);
  }
}

std::string Board::VersionText() const {
  std::string v = version[0] && version[1] ? std::string(version + 2) : std::string();
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
  return v;
}

}  // namespace fennwick
