#pragma once
#include <termios.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/serial_device.h"

// Puts back the settings that every port open in this process had when it was opened.
// Safe in a signal handler, for a program that must end at once.
void RestoreOpenPortsNow();

// Serial ports through termios. Handles are the file descriptors; only descriptors that
// this object opened are accepted.
class PosixSerialDevice final : public ISerialDevice {
 public:
  // `overridePath` replaces the mapping of every port name (the --port option).
  explicit PosixSerialDevice(std::optional<std::string> overridePath = std::nullopt);
  ~PosixSerialDevice() override;
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  // "COMn:" names /dev/ttyS(n-1); an override (the argument, else FENNWICK_PORT) wins.
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
  OpenError LastOpenError() const override { return lastError_; }
  std::string LastOpenPath() const override { return lastPath_; }
  LineState State(int32_t h) const override;

 private:
  struct Port {
    termios original{};  // the settings found at the opening, put back at the close
    uint32_t writeTimeoutMs = 5000;
    uint8_t dtrControl = 1;  // as the driver reports until we change it
    bool lost = false;
  };
  bool Known(int32_t h) const;
  static void Release(int fd, const Port& port);
  void MarkLost(int32_t h);

  std::optional<std::string> override_;
  mutable std::mutex mu_;
  std::map<int32_t, Port> ports_;
  OpenError lastError_ = OpenError::None;
  std::string lastPath_;
};
