#pragma once
// The S19 reader that builds the flash image sent by the programming run.
#include <cstddef>
#include <cstdint>

#include "platform/file.h"

constexpr uint32_t kFlashBase = 0x8000;
constexpr size_t kImageSize = 0x20000;  // MCU addresses 0x8000 to 0x27FFF
constexpr size_t kPacketBufferSize = 1024;

// All zero at start and never cleared: the loader assembles lines in it and the
// programming run builds its packets in it, so the end record carries the remains.
extern uint8_t g_packetBuffer[kPacketBufferSize];

// One hexadecimal character to its value; every other byte b gives (b - 0x30) mod 256.
uint8_t HexNibble(uint8_t c);

// What loading had to leave out, so that callers can warn.
struct LoadStats {
  uint64_t outOfRangeBytes = 0;  // data for addresses outside 0x8000..0x27FFF, not written
  uint32_t overlongLines = 0;    // lines longer than the line buffer, not applied
  bool readError = false;        // the file failed mid-read; the image is incomplete
};

// Fills the 131,072-byte image from `file` (opened, not yet read), assembling lines in
// `packetBuffer` (1,024 bytes; g_packetBuffer for the one global port).
LoadStats LoadS19Image(IFile& file, uint8_t* image, uint8_t* packetBuffer = g_packetBuffer);
