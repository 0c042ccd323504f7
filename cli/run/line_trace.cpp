#include "cli/run/line_trace.h"

#include <chrono>

namespace fennwick {

namespace {

long long MsSinceStart() {
  static const auto start = std::chrono::steady_clock::now();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::string TraceLine(const std::string& port, long long ms, const char* what, const uint8_t* data, size_t len) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string line = "fennwick-cli: [";
  line.append(port).append("] ").append(std::to_string(ms)).append(" ms ").append(what);
  for (size_t i = 0; i < len; ++i) {
    line += ' ';
    line += kHex[data[i] >> 4];
    line += kHex[data[i] & 0x0F];
  }
  return line + "\n";
}

LineTrace::LineTrace(ISerialDevice& inner, std::unique_ptr<ISerialDevice> owned, std::FILE* err)
    : ForwardingSerialDevice(inner), owned_(std::move(owned)), err_(err) {
  MsSinceStart();
}

SerialWrap TracedSerial(SerialWrap inner, std::FILE* err) {
  return [inner = std::move(inner), err](ISerialDevice& line) -> std::unique_ptr<ISerialDevice> {
    std::unique_ptr<ISerialDevice> between = inner ? inner(line) : nullptr;
    ISerialDevice& traced = between ? *between : line;
    return std::make_unique<LineTrace>(traced, std::move(between), err);
  };
}

void LineTrace::Trace(const char* what, const uint8_t* data, size_t len) {
  const std::string line = TraceLine(port_, MsSinceStart(), what, data, len);
  std::fwrite(line.data(), 1, line.size(), err_);
  std::fflush(err_);
}

int32_t LineTrace::Open(const std::string& path) {
  const int32_t h = ForwardingSerialDevice::Open(path);
  port_ = LastOpenPath();
  Trace(h == kInvalidHandle ? "open failed" : "open", nullptr, 0);
  return h;
}

bool LineTrace::Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) {
  const bool ok = ForwardingSerialDevice::Read(h, buf, max, got);
  if (ok && got > 0) Trace("<", buf, got);
  // A lost line fails every read from then on: once in the trace is enough.
  if (!ok && !readFailed_) Trace("read failed", nullptr, 0);
  readFailed_ = !ok;
  return ok;
}

uint32_t LineTrace::Write(int32_t h, const uint8_t* data, uint32_t len) {
  const uint32_t written = ForwardingSerialDevice::Write(h, data, len);
  Trace(">", data, written);
  if (written < len) Trace("write short", nullptr, 0);
  return written;
}

void LineTrace::Close(int32_t h) {
  ForwardingSerialDevice::Close(h);
  Trace("close", nullptr, 0);
}

}  // namespace fennwick
