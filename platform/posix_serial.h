#pragma once
#include <termios.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/serial_device.h"

namespace fennwick {

// Puts back the settings that every port open in this process had when it was opened (line
// settings, the driver's low-latency flag, no exclusive use). Safe in a signal handler, for
// a program that must end at once.
void RestoreOpenPortsNow();

// The port that FENNWICK_PORT names, as the environment holds it (possibly empty); none when
// it is not set. The front ends read it once and hand it to the device as its override.
std::optional<std::string> PortFromEnvironment();

// Serial ports through termios. Handles are the file descriptors; only descriptors that
// this object opened are accepted.
class PosixSerialDevice final : public ISerialDevice {
 public:
  // `overridePath` replaces the mapping of every port name (--port, else FENNWICK_PORT).
  explicit PosixSerialDevice(std::optional<std::string> overridePath = std::nullopt);
  ~PosixSerialDevice() override;
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  // For a device built before its settings are known (a program's global one): applies to
  // the next opening.
  void SetOverride(std::optional<std::string> overridePath);

  // "COMn:" names /dev/ttyS(n-1); a non-empty override wins.
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
  struct Port {
    termios original{};  // the settings found at the opening, put back at the close
    bool lowLatencySet = false;  // the driver's low-latency flag was off and we switched it on
    uint32_t writeTimeoutMs = 5000;
    uint8_t dtrControl = 1;  // as the driver reports until we change it
    bool lost = false;
  };
  bool Known(int32_t h) const;
  static void Release(int fd, const Port& port);
  void MarkLost(int32_t h);

  // The boards of a gang may share one device: everything below is read and written under mu_.
  mutable std::mutex mu_;
  std::optional<std::string> override_;
  std::map<int32_t, Port> ports_;
  OpenError lastError_ = OpenError::None;
  int lastErrno_ = 0;
  std::string lastPath_;
};

}  // namespace fennwick
