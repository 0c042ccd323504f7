#pragma once
// A scripted serial device in virtual time: bytes arrive at set times, everything written
// is captured, and a responder can answer writes the way an MCU would.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "platform/serial_device.h"

namespace fennwick {

class FakeSerial final : public ISerialDevice {
 public:
  explicit FakeSerial(FakeClock& clock) : clock_(clock) {}

  // Script.
  bool openFails = false;
  OpenError openError = OpenError::NoSuchDevice;
  bool failCommMask = false;
  bool failGetState = false;
  bool failSetState = false;
  bool failRead = false;
  int64_t writeLimit = -1;  // bytes the driver takes per write; -1 for all
  DrainResult drainResult = DrainResult::Drained;  // what waiting for the output comes to
  Dcb state;                // what GetCommState reports
  // Called after each write with the bytes of that write.
  std::function<void(const std::vector<uint8_t>&)> onWrite;

  // Bytes that become readable `delayMs` after now.
  void Deliver(const std::string& bytes, uint64_t delayMs = 0);
  void Deliver(const std::vector<uint8_t>& bytes, uint64_t delayMs = 0);
  void LoseLine() { lost_ = true; }

  // Observations.
  std::vector<uint8_t> written;
  std::vector<std::vector<uint8_t>> writes;
  std::vector<std::string> calls;  // operation names in order
  std::vector<uint32_t> readRequests;
  Dcb applied;
  int32_t handle() const { return handle_; }
  bool open() const { return open_; }
  size_t Pending() const;

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
  OpenError LastOpenError() const override { return openFails ? openError : OpenError::None; }
  std::string LastOpenPath() const override { return "fake"; }
  LineState State(int32_t h) const override { return h == handle_ && open_ && !lost_ ? LineState::Ok : LineState::Lost; }

  CommTimeouts timeouts;
  std::string openedName;

 private:
  struct Arrival {
    uint64_t at;
    std::vector<uint8_t> bytes;
  };
  bool Valid(int32_t h) const { return open_ && h == handle_; }
  // A refused setting leaves its reason in errno, as the system's calls do.
  static bool Refuse() {
    errno = EIO;
    return false;
  }
  FakeClock& clock_;
  std::deque<Arrival> arrivals_;
  int32_t handle_ = 7;
  bool open_ = false;
  bool lost_ = false;
};

}  // namespace fennwick
