#pragma once
// A CMcuPort on fakes in virtual time, with a recorder of its run.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fakes/fake_clock.h"
#include "fakes/fake_console.h"
#include "fakes/fake_files.h"
#include "fakes/fake_serial.h"
#include "link/mcu_port.h"

namespace fennwick {

class PortTest : public ::testing::Test {
 protected:
  PortTest() { port.SetObserver(&run); }

  // Opens and sets up the fake device without identifying the MCU.
  void OpenDirect() {
    ASSERT_TRUE(port.OpenPort(u"COM2:"));
    serial.calls.clear();
  }

  std::string Log() const { return run.log; }
  std::string Reply() const { return std::string(port.ReplyBuffer()); }

  FakeClock clock;
  FakeSerial serial{clock};
  MemoryFileSystem files;
  RecordingRun run;
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

}  // namespace fennwick
