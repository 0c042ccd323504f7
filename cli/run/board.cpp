#include "cli/run/board.h"

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
}

std::string_view Board::McuVersion() const {
  return givenVersion ? std::string_view(*givenVersion) : std::string_view(port.McuVersion());
}

std::string Board::VersionText() const { return ShownVersion(McuVersion()); }

}  // namespace fennwick
