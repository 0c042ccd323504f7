// Any bytes as the S19 file of a programming run: the loader must stay inside the image and
// the packet buffer, leave the buffer's bytes behind the longest line alone, notice a read
// error, and build the very image that the strict check reports, whatever the file holds
// (the check's CRC-32 is what an operator compares with the flash).
#include <algorithm>
#include <cstring>

#include "fakes/fake_files.h"
#include "firmware/firmware_file.h"
#include "firmware/s19_loader.h"
#include "fuzz_support.h"

namespace fennwick {

int FuzzS19Loader(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  constexpr uint8_t kFill = 0x5C;

  GuardedBuffer image(kImageSize, 0xEE);
  GuardedBuffer packet(kPacketBufferSize, kFill);
  MemoryFile file(text, -1);
  const LoadStats stats = LoadS19Image(file, image.data(), packet.data());
  FUZZ_CHECK(image.Intact());
  FUZZ_CHECK(packet.Intact());
  FUZZ_CHECK(!stats.readError);

  // Lines end at CR or LF; only the characters of a line (at most the buffer) are stored.
  size_t longest = 0, len = 0;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\r' || data[i] == '\n') {
      len = 0;
    } else {
      longest = std::max(longest, std::min(++len, kPacketBufferSize));
    }
  }
  for (size_t i = longest; i < kPacketBufferSize; ++i) FUZZ_CHECK(packet.data()[i] == kFill);

  // A board's packet buffer starts zeroed, as the check's does: a line that reads past its
  // own end reads the same leftovers in both.
  GuardedBuffer flashed(kImageSize, 0xEE);
  GuardedBuffer fresh(kPacketBufferSize, 0);
  MemoryFile forRun(text, -1);
  LoadS19Image(forRun, flashed.data(), fresh.data());
  MemoryFile again(text, -1);
  const FirmwareReport report = CheckS19(again);
  FUZZ_CHECK(std::memcmp(report.image.data(), flashed.data(), kImageSize) == 0);
  FUZZ_CHECK(report.crc32 == ImageCrc32(flashed.data()));
  if (!report.HasProblems()) FUZZ_CHECK(std::memcmp(image.data(), flashed.data(), kImageSize) == 0);
  if (!report.HasProblems()) {
    FUZZ_CHECK(stats.outOfRangeBytes == 0);
    FUZZ_CHECK(stats.overlongLines == 0);
  }

  // A file that fails half-way must say so: a half-read image must never be flashed.
  if (size > 0) {
    GuardedBuffer image2(kImageSize, 0xEE);
    GuardedBuffer packet2(kPacketBufferSize, kFill);
    MemoryFile failing(text, static_cast<int64_t>(size / 2));
    const LoadStats broken = LoadS19Image(failing, image2.data(), packet2.data());
    FUZZ_CHECK(broken.readError);
    FUZZ_CHECK(image2.Intact() && packet2.Intact());
  }
  return 0;
}

FENNWICK_FUZZ_ENTRY(FuzzS19Loader)

}  // namespace fennwick
