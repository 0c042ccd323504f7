#pragma once
// The serial device as the link sees it: a handle-based API whose operations mirror what
// the link needs from the operating system. Each system's implementation is declared in
// system_serial.h; tests use a scripted fake.
#include <cstdint>
#include <string>

namespace fennwick {

// Line settings. Only the first five fields are changed by the link; the rest are
// carried as read from the device and written back unchanged.
struct Dcb {
  uint32_t BaudRate = 0;
  uint8_t ByteSize = 8;
  uint8_t Parity = 0;       // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t StopBits = 0;     // 0 one, 1 one and a half, 2 two
  uint8_t fDtrControl = 0;  // 0 off, 1 on, 2 handshake
  uint8_t fRtsControl = 1;  // 0 off, 1 on, 2 handshake
  bool fOutxCtsFlow = false;
  bool fOutX = false;
  bool fInX = false;
  bool operator==(const Dcb&) const = default;
};

struct CommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

constexpr int32_t kInvalidHandle = -1;
constexpr uint32_t kPurgeTxClear = 0x0004;
constexpr uint32_t kPurgeRxClear = 0x0008;
constexpr uint32_t kEvRxChar = 0x0001;
constexpr uint32_t kEvRing = 0x0100;

// Why an open failed, for front ends that explain it to a person.
// StandardStream: the port is the device of our own standard input, output or error.
enum class OpenError { None, NoSuchDevice, PermissionDenied, Busy, NotSerial, ControllingTerminal, StandardStream, Other };

// Why the line stopped working after it was open (a pulled USB adapter, a hung-up pty).
enum class LineState { Ok, Lost };

// How waiting for the output to leave the port ended.
enum class DrainResult { Drained, TimedOut, Lost };

class ISerialDevice {
 public:
  virtual ~ISerialDevice() = default;

  // Opens `path`, the port as the system names it (platform/port_name.h resolves the MCU's
  // port name to it; UTF-8 on Windows). Returns a handle, or kInvalidHandle. Every other
  // operation fails on a handle that this device did not hand out (so a zero or stale handle
  // never reaches the system).
  virtual int32_t Open(const std::string& path) = 0;
  virtual bool SetupComm(int32_t h, uint32_t rxQueue, uint32_t txQueue) = 0;
  virtual bool Purge(int32_t h, uint32_t flags) = 0;
  virtual bool SetCommMask(int32_t h, uint32_t mask) = 0;
  virtual bool GetCommState(int32_t h, Dcb& dcb) = 0;
  virtual bool SetCommState(int32_t h, const Dcb& dcb) = 0;
  virtual bool SetCommTimeouts(int32_t h, const CommTimeouts& timeouts) = 0;
  virtual void ClearCommError(int32_t h) = 0;
  // Never waits: `got` is what had already arrived, possibly 0. False on failure
  // (also when the line has been lost).
  virtual bool Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) = 0;
  // Waits at most maxMs, and less if bytes become readable.
  virtual void WaitReadable(int32_t h, uint32_t maxMs) = 0;
  // Returns the count the device took; gives up after the write time-out in all.
  virtual uint32_t Write(int32_t h, const uint8_t* data, uint32_t len) = 0;
  // Waits at most maxMs until every byte written has left the port. A device without an
  // output queue of its own has nothing to wait for.
  virtual DrainResult Drain(int32_t h, uint32_t maxMs) {
    (void)maxMs;
    return State(h) == LineState::Lost ? DrainResult::Lost : DrainResult::Drained;
  }
  virtual void Close(int32_t h) = 0;

  virtual OpenError LastOpenError() const = 0;
  // The errno value behind the last failed Open; 0 when no system call failed.
  virtual int LastOpenErrno() const { return 0; }
  // The system path tried by the last Open, for messages.
  virtual std::string LastOpenPath() const = 0;
  virtual LineState State(int32_t h) const = 0;
};

// Passes every operation to another device; a wrapper overrides only what it changes
// (a plain polling pause, a line that fails at a chosen moment).
class ForwardingSerialDevice : public ISerialDevice {
 public:
  explicit ForwardingSerialDevice(ISerialDevice& inner) : inner_(inner) {}
  int32_t Open(const std::string& path) override { return inner_.Open(path); }
  bool SetupComm(int32_t h, uint32_t rx, uint32_t tx) override { return inner_.SetupComm(h, rx, tx); }
  bool Purge(int32_t h, uint32_t flags) override { return inner_.Purge(h, flags); }
  bool SetCommMask(int32_t h, uint32_t mask) override { return inner_.SetCommMask(h, mask); }
  bool GetCommState(int32_t h, Dcb& dcb) override { return inner_.GetCommState(h, dcb); }
  bool SetCommState(int32_t h, const Dcb& dcb) override { return inner_.SetCommState(h, dcb); }
  bool SetCommTimeouts(int32_t h, const CommTimeouts& t) override { return inner_.SetCommTimeouts(h, t); }
  void ClearCommError(int32_t h) override { inner_.ClearCommError(h); }
  bool Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) override { return inner_.Read(h, buf, max, got); }
  void WaitReadable(int32_t h, uint32_t maxMs) override { inner_.WaitReadable(h, maxMs); }
  uint32_t Write(int32_t h, const uint8_t* data, uint32_t len) override { return inner_.Write(h, data, len); }
  DrainResult Drain(int32_t h, uint32_t maxMs) override { return inner_.Drain(h, maxMs); }
  void Close(int32_t h) override { inner_.Close(h); }
  OpenError LastOpenError() const override { return inner_.LastOpenError(); }
  int LastOpenErrno() const override { return inner_.LastOpenErrno(); }
  std::string LastOpenPath() const override { return inner_.LastOpenPath(); }
  LineState State(int32_t h) const override { return inner_.State(h); }

 protected:
  ISerialDevice& inner() const { return inner_; }

 private:
  ISerialDevice& inner_;
};

}  // namespace fennwick
