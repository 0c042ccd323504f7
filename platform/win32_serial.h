#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/serial_device.h"

namespace fennwick {

// Puts back the settings that every port open in this process had when it was opened.
// Safe in a console control handler, for a program that must end at once.
void RestoreOpenPortsNow();

// The port that FENNWICK_PORT names, as the environment holds it (possibly empty); none when
// it is not set.
std::optional<std::string> PortFromEnvironment();

// Serial ports through the Win32 communications API. The handles given out are small
// numbers of our own that stand for the system's handles; only those are accepted.
class Win32SerialDevice final : public ISerialDevice {
 public:
  // `overridePath` replaces every port name (--port, else FENNWICK_PORT).
  explicit Win32SerialDevice(std::optional<std::string> overridePath = std::nullopt);
  ~Win32SerialDevice() override;
  Win32SerialDevice(const Win32SerialDevice&) = delete;
  Win32SerialDevice& operator=(const Win32SerialDevice&) = delete;

  void SetOverride(std::optional<std::string> overridePath);

  // "COMn" and "COMn:" (any case) name the device \\.\COMn, the only spelling that reaches
  // ports above 9; a non-empty override wins and is mapped the same way.
  static std::string MapPortName(std::u16string_view name, const std::optional<std::string>& overridePath);

  int32_t Open(const std::u16string& name) override;
  bool SetupComm(int32_t h, uint32_t rxQueue, uint32_t txQueue) override;
  bool Purge(int32_t h, uint32_t flags) override;
  bool SetCommMask(int32_t h, uint32_t mask) override;
  bool GetCommState(int32_t h, Dcb& dcb) override;
  bool SetCommState(int32_t h, const Dcb& dcb) override;
  bool SetCommTimeouts(int32_t h, const CommTimeouts& timeouts) override;
  void ClearCommError(int32_t h) override;
  bool Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) override;
  void WaitReadable(int32_t h, uint32_t maxMs) override;
  uint32_t Write(int32_t h, const uint8_t* data, uint32_t len) override;
  DrainResult Drain(int32_t h, uint32_t maxMs) override;
  void Close(int32_t h) override;
  OpenError LastOpenError() const override;
  int LastOpenErrno() const override;
  std::string LastOpenPath() const override;
  LineState State(int32_t h) const override;

 private:
  struct Port;
  // The system handle behind `h`, or null when `h` is not ours or its line is lost.
  void* Live(int32_t h) const;
  void MarkLost(int32_t h);

  mutable std::mutex mu_;
  std::optional<std::string> override_;
  std::map<int32_t, std::shared_ptr<Port>> ports_;
  int32_t next_ = 1;
  OpenError lastError_ = OpenError::None;
  int lastErrno_ = 0;
  std::string lastPath_;
};

}  // namespace fennwick
