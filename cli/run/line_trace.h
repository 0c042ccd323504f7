#pragma once
// -v: a board's serial line traced on stderr, every byte sent and received with the
// milliseconds since the program started, so that a misbehaving MCU can be seen at work.
#include <cstdio>
#include <memory>
#include <string>

#include "cli/run/context.h"
#include "platform/serial_device.h"

namespace fennwick {

class LineTrace final : public ForwardingSerialDevice {
 public:
  // Traces `inner`; owns `owned` when given (the device that `inner` is).
  LineTrace(ISerialDevice& inner, std::unique_ptr<ISerialDevice> owned, std::FILE* err);

  int32_t Open(const std::string& path) override;
  bool Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) override;
  uint32_t Write(int32_t h, const uint8_t* data, uint32_t len) override;
  void Close(int32_t h) override;

 private:
  void Trace(const char* what, const uint8_t* data, size_t len);
  std::unique_ptr<ISerialDevice> owned_;
  std::FILE* err_;
  std::string port_;
  bool readFailed_ = false;
};

// Each board's line traced on `err`, around what `inner` (if any) puts in between.
SerialWrap TracedSerial(SerialWrap inner, std::FILE* err);

// One trace line: "fennwick-cli: [PORT] 1234 ms > 24 52" (">" sent, "<" received), or
// with a word in place of the bytes ("open", "close", "open failed").
std::string TraceLine(const std::string& port, long long ms, const char* what, const uint8_t* data, size_t len);

}  // namespace fennwick
