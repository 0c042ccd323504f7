// Any bytes as the file of `check` (and of the precheck before programming): the report must
// hold together, and every file must load into the very image it reports, through the
// loader that programming uses for its format.
#include <algorithm>
#include <cstring>

#include "fakes/fake_files.h"
#include "firmware/firmware_file.h"
#include "fuzz_support.h"

namespace fennwick {

namespace {

void CheckReport(const FirmwareReport& r, const uint8_t* data, size_t size) {
  FUZZ_CHECK(r.image.size() == kImageSize);
  FUZZ_CHECK(!r.readError);
  FUZZ_CHECK(r.lineCount == CountLines(data, size));
  FUZZ_CHECK(r.crc32 == ImageCrc32(r.image.data()));
  // The whole-file problems (no end record, no data) may join a full list.
  FUZZ_CHECK(r.problems.size() <= kMaxListedProblems + 2);
  FUZZ_CHECK(r.unlistedProblems == 0 || r.problems.size() >= kMaxListedProblems);
  for (size_t i = 1; i < r.problems.size(); ++i) {
    const uint32_t a = r.problems[i - 1].line, b = r.problems[i].line;
    FUZZ_CHECK(a == 0 ? b == 0 : (b == 0 || a <= b));  // line order, the whole-file ones last
  }
  // Ranges in address order, apart, inside the flash; no byte written outside them.
  uint32_t covered = 0;
  for (size_t i = 0; i < r.ranges.size(); ++i) {
    const DataRange& d = r.ranges[i];
    FUZZ_CHECK(d.first >= kFlashBase && d.last < kFlashBase + kImageSize && d.first <= d.last);
    if (i > 0) FUZZ_CHECK(r.ranges[i - 1].last + 1 < d.first);
    covered += d.Size();
  }
  FUZZ_CHECK(covered <= kImageSize);
  size_t next = 0;
  for (size_t k = 0; k < kImageSize; ++k) {
    const uint32_t a = kFlashBase + static_cast<uint32_t>(k);
    while (next < r.ranges.size() && r.ranges[next].last < a) ++next;
    const bool inside = next < r.ranges.size() && r.ranges[next].first <= a;
    if (!inside) FUZZ_CHECK(r.image[k] == 0);
  }
  // An image without data is never clean, and it is all zeros: nothing else could be flashed.
  if (!r.hasData) {
    FUZZ_CHECK(r.HasProblems());
    FUZZ_CHECK(std::all_of(r.image.begin(), r.image.end(), [](uint8_t b) { return b == 0; }));
  }
  if (r.description.present) FUZZ_CHECK(!r.description.first.empty() && r.description.first[0] == '$');
}

}  // namespace

int FuzzCheck(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  MemoryFile file(text, -1);
  const FirmwareReport report = CheckFirmware(file);
  CheckReport(report, data, size);
  MemoryFile formatFile(text, -1);
  FUZZ_CHECK(DetectFirmwareFormat(formatFile) == report.format);

  GuardedBuffer image(kImageSize, 0xEE);
  GuardedBuffer packet(kPacketBufferSize, 0);
  MemoryFile again(text, -1);
  if (report.format != FirmwareFormat::IntelHex) {
    const LoadStats stats = LoadS19Image(again, image.data(), packet.data());
    FUZZ_CHECK(!stats.readError);
    FUZZ_CHECK(std::memcmp(image.data(), report.image.data(), kImageSize) == 0);
  } else if (report.format == FirmwareFormat::IntelHex) {
    // The programming run's Intel HEX loader refuses a file with problems unless forced.
    const bool force = (size & 1) != 0;
    const LoadStats stats = LoadIntelHexImage(again, image.data(), packet.data(), force);
    FUZZ_CHECK(stats.readError == (!force && report.HasProblems()));
    FUZZ_CHECK(std::memcmp(image.data(), report.image.data(), kImageSize) == 0);
  }
  FUZZ_CHECK(image.Intact() && packet.Intact());

  // A read error anywhere is a read error, never a clean report.
  if (size > 0 && size % 4 == 1) {
    MemoryFile failing(text, static_cast<int64_t>(size / 2));
    const FirmwareReport broken = CheckFirmware(failing);
    FUZZ_CHECK(broken.readError && broken.HasProblems());
    FUZZ_CHECK(broken.image.size() == kImageSize);
  }
  return 0;
}

FENNWICK_FUZZ_ENTRY(FuzzCheck)

}  // namespace fennwick
