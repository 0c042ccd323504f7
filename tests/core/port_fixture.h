#pragma once
// A CMcuPort on fakes in virtual time, with a recorder of its run and buffers of its own.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
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
  PortTest() {
    std::memset(version, 0, sizeof version);
    std::memset(packet, 0, sizeof packet);
    port.SetObserver(&run);
    port.SetBuffers(version, packet);
  }

  // Opens the fake device and hands its handle to the port, as a successful opening does.
  void OpenDirect() {
    port.m_hPort = serial.Open("COM2:");
    serial.calls.clear();
  }

  std::string Log() const { return run.log; }
  std::string Reply() const { return std::string(port.m_reply); }

  FakeClock clock;
  FakeSerial serial{clock};
  MemoryFileSystem files;
  RecordingRun run;
  char version[kVersionSize];
  uint8_t packet[kPacketBufferSize];
  CMcuPort port{serial, clock};

  // The firmware at `path` in `files`, read as S19 as the window reads it; a read that
  // fails half-way leaves what came before it.
  LoadedFirmware ReadS19(const std::u16string& path) {
    return ReadFirmware(files, path, {FirmwareFormat::S19}).firmware;
  }
};

inline std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace fennwick
