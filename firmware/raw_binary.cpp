#include "firmware/raw_binary.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fennwick {

namespace {


std::string Hex(uint64_t value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%05llX", static_cast<unsigned long long>(value));
  return buf;
}

}  // namespace

bool HasBinaryName(const std::string& file) {
  if (file.size() < 4) return false;
  std::string ext = file.substr(file.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".bin";
}

FirmwareReport CheckBinary(IFile& file, uint32_t base) {
  FirmwareReport r;
  r.format = FirmwareFormat::Binary;
  r.image.assign(kImageSize, 0);
  if (base < kFlashBase || base >= kFlashEnd) base = kFlashBase;
  const int64_t length = file.Length();
  if (length < 0) {
    r.readError = true;
    return r;
  }
  const uint64_t room = kFlashEnd - base;
  uint64_t taken = 0;
  uint64_t total = 0;
  uint8_t chunk[8192];
  while (total < static_cast<uint64_t>(length)) {
    const uint64_t want = std::min<uint64_t>(sizeof chunk, static_cast<uint64_t>(length) - total);
    const int64_t got = file.Read(chunk, static_cast<size_t>(want));
    if (got < 0) {
      r.readError = true;
      return r;
    }
    if (got == 0) break;  // the file shrank while we read it
    total += static_cast<uint64_t>(got);
    const uint64_t fits = std::min<uint64_t>(static_cast<uint64_t>(got), room - taken);
    std::memcpy(&r.image[base - kFlashBase + taken], chunk, static_cast<size_t>(fits));
    taken += fits;
  }
  // Nothing to flash: the image would be all zeros, which no binary asked for.
  if (total == 0) r.problems.push_back({0, "the file is empty"});
  r.hasData = taken > 0;
  if (taken > 0) r.ranges.push_back({base, static_cast<uint32_t>(base + taken - 1)});
  if (total > room) {
    r.outOfRangeBytes = total - room;
    r.problems.push_back({0, std::to_string(total) + " bytes from " + Hex(base) + " run past the flash's end at " + Hex(kFlashLast) + "; " +
                                 std::to_string(room) + " bytes fit"});
  }
  r.description = DescriptionOfImage(r.image.data());
  r.crc32 = ImageCrc32(r.image.data());
  return r;
}

LoadStats LoadBinaryImage(IFile& file, uint8_t* image, uint32_t base) {
  const FirmwareReport report = CheckBinary(file, base);
  LoadStats stats;
  stats.outOfRangeBytes = report.outOfRangeBytes;
  stats.readError = report.HasProblems();  // too long or empty: never flashed
  std::memcpy(image, report.image.data(), kImageSize);
  return stats;
}

bool ParseFlashAddress(const std::string& text, uint32_t& address) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  if (value < kFlashBase || value >= kFlashEnd) return false;
  address = static_cast<uint32_t>(value);
  return true;
}

}  // namespace fennwick
