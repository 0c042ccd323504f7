#include "cli/board.h"

namespace fennwick {

void RunCapture::LogText(std::string_view text) {
  if (quiet) return;
  text_ += text;
  display_.LogText(text);
  if (onChange) onChange();
}

Board::Board(const std::optional<std::string>& portPath, const SerialWrap& wrap, IRunObserver& display, SayFn say)
    : wrapped(wrap ? wrap(serial) : nullptr),
      capture(display),
      port(wrapped ? *wrapped : static_cast<ISerialDevice&>(serial), DefaultClock()),
      say_(std::move(say)) {
  port.SetGivenPort(portPath);
  port.SetObserver(&capture);
  port.SetBuffers(version, packet);
}

std::string Board::VersionText() const {
  std::string v = version[0] && version[1] ? std::string(version + 2) : std::string();
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r')) v.pop_back();
  return v;
}

}  // namespace fennwick
