#pragma once
// The serial device of the system that this build is for: each system's folder implements
// it (platform/posix/, platform/win32/).
#include <memory>
#include <string>

#include "platform/last_open.h"
#include "platform/serial_device.h"

namespace fennwick {

// Puts back the settings that every port open in this process had when it was opened. Takes
// no lock and allocates nothing: safe in a signal handler or a console control handler, for
// a program that must end at once.
void RestoreOpenPortsNow();

// Handles are accepted only from the device that gave them out.
class SystemSerialDevice final : public ISerialDevice {
 public:
  SystemSerialDevice();
  ~SystemSerialDevice() override;
  SystemSerialDevice(const SystemSerialDevice&) = delete;
  SystemSerialDevice& operator=(const SystemSerialDevice&) = delete;

  int32_t Open(const std::string& path) override;
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
  OpenError LastOpenError() const override { return lastOpen_.Error(); }
  int LastOpenErrno() const override { return lastOpen_.Errno(); }
  std::string LastOpenPath() const override { return lastOpen_.Path(); }
  LineState State(int32_t h) const override;

 private:
  // Each system's ports and last open result. The boards of a gang may share one device:
  // it is read and written under a lock of its own.
  struct Ports;
  std::unique_ptr<Ports> ports_;
  LastOpen lastOpen_;
};

}  // namespace fennwick
