#pragma once
// A CMcuPort on fakes in virtual time, with a log and progress bar of its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_console.h"
#include "fakes/fake_files.h"
#include "fakes/fake_serial.h"
#include "link/log_console.h"
#include "link/mcu_port.h"

namespace fennwick {

class PortTest : public ::testing::Test {
 protected:
  PortTest() { port.SetConsole(&log, &progress); }

  // Opens and sets up the fake device without identifying the MCU.
  void OpenDirect() {
    ASSERT_TRUE(port.OpenPort(u"COM2:"));
    serial.calls.clear();
  }

  std::string Log() const { return log.Text8(); }
  std::string Reply() const { return std::string(port.ReplyBuffer()); }

  FakeClock clock;
  FakeSerial serial{clock};
  MemoryFileSystem files;
  MemoryLogEdit log;
  RecordingProgress progress;
  CMcuPort port{serial, clock};
  // The port's own version text and packet buffer.
  const char (&version)[kVersionSize] = port.McuVersion();
  const uint8_t (&packet)[kPacketBufferSize] = port.PacketBuffer();

  // The firmware at `path` in `files`, read as S19 as the window reads it; a read that
  // fails half-way leaves what came before it.
  LoadedFirmware ReadS19(const std::u16string& path) {
    return ReadFirmware(files, path, {FirmwareFormat::S19}).firmware;
  }
};

inline std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Restores a global pointer or buffer when a test that borrows it ends.
template <typename T>
class GlobalGuard {
 public:
  GlobalGuard(T& global, T value) : global_(global), saved_(global) { global_ = value; }
  ~GlobalGuard() { global_ = saved_; }
  GlobalGuard(const GlobalGuard&) = delete;
  GlobalGuard& operator=(const GlobalGuard&) = delete;

 private:
  T& global_;
  T saved_;
};

}  // namespace fennwick
