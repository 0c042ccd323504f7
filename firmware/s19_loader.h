#pragma once
// The S19 reader that builds the flash image sent by the programming run.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "firmware/flash_geometry.h"
#include "platform/file.h"

namespace fennwick {

constexpr size_t kPacketBufferSize = kLineBufferSize;

// One hexadecimal character to its value; every other byte b gives (b - 0x30) mod 256.
uint8_t HexNibble(uint8_t c);

// What loading had to leave out, so that callers can warn.
struct LoadStats {
  uint64_t outOfRangeBytes = 0;  // data for addresses outside the flash, not written
  uint32_t overlongLines = 0;    // lines longer than the line buffer, not applied
  bool readError = false;        // the file failed mid-read; the image is incomplete
};

// The loader itself, fed one byte of the file at a time, for readers that must build the
// very image that the programming run sends (the strict check). The caller zeroes the image.
class S19ImageBuilder {
 public:
  S19ImageBuilder(uint8_t* image, uint8_t* packetBuffer) : image_(image), buf_(packetBuffer) {}
  void Feed(uint8_t c);
  // Applies a last line that no line end follows.
  void Finish() { EndLine(); }
  const LoadStats& stats() const { return stats_; }
  // How far into the line buffer any line reached: the bytes past it are as they were.
  size_t reach() const { return reach_; }
  // When set, told the image index of every byte that a line writes.
  void OnWrite(std::function<void(size_t index)> onWrite) { onWrite_ = std::move(onWrite); }

 private:
  void EndLine();
  void Apply(size_t len);

  uint8_t* image_;
  uint8_t* buf_;
  LoadStats stats_;
  std::function<void(size_t)> onWrite_;
  size_t len_ = 0;
  size_t reach_ = 0;
  bool overlong_ = false;
  size_t addrLen_ = 0;  // carried from line to line
};

// Fills the 131,072-byte image from `file` (opened, not yet read), assembling lines in
// `packetBuffer` (1,024 bytes), which keeps what the last lines left in it.
LoadStats LoadS19Image(IFile& file, uint8_t* image, uint8_t* packetBuffer);

}  // namespace fennwick
