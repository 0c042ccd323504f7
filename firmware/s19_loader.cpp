#include "firmware/s19_loader.h"

#include <algorithm>
#include <cstring>

namespace fennwick {


uint8_t HexNibble(uint8_t c) {
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 0x57);
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 0x37);
  return static_cast<uint8_t>(c - 0x30);
}

void S19ImageBuilder::Apply(size_t len) {
  // Too short to hold a count and an address: taking its fields would read what earlier
  // lines left behind.
  if (len <= 4) return;
  const uint8_t type = buf_[1];
  switch (type) {
    case '1': addrLen_ = 2; break;
    case '2': addrLen_ = 3; break;
    case '3': addrLen_ = 4; break;
    case '5':
      // A record count: applied with the address length in force, which leaves no data.
      if (addrLen_ == 0) return;
      break;
    default:
      // S0, S7, S8, S9 carry no image data; S4, S6 and unknown types are not ours.
      return;
  }
  // Decode in place; the write position never overtakes the characters still to read.
  for (size_t j = 2; j + 2 < len; j += 2) {
    buf_[(j - 2) / 2] = static_cast<uint8_t>((HexNibble(buf_[j]) << 4) | HexNibble(buf_[j + 1]));
  }
  uint64_t address = 0;
  for (size_t k = 1; k <= addrLen_; ++k) address = (address << 8) | buf_[k];
  const int count = static_cast<int>(buf_[0]) - static_cast<int>(addrLen_) - 1;
  for (int k = 0; k < count; ++k) {
    const uint64_t at = address + static_cast<uint64_t>(k);
    // Data outside the flash has no place in the image and is only counted.
    if (at < kFlashBase || at >= kFlashBase + kImageSize) {
      ++stats_.outOfRangeBytes;
      continue;
    }
    image_[at - kFlashBase] = buf_[addrLen_ + 1 + static_cast<size_t>(k)];
    if (onWrite_) onWrite_(static_cast<size_t>(at - kFlashBase));
  }
}

void S19ImageBuilder::EndLine() {
  if (overlong_) {
    ++stats_.overlongLines;
  } else if (len_ > 0) {
    Apply(len_);
  }
  len_ = 0;
  overlong_ = false;
}

void S19ImageBuilder::Feed(uint8_t c) {
  if (c == '\r' || c == '\n') {
    EndLine();
  } else if (len_ < kPacketBufferSize) {
    buf_[len_++] = c;
    reach_ = std::max(reach_, len_);
  } else {
    overlong_ = true;
  }
}

LoadStats LoadS19Image(IFile& file, uint8_t* image, uint8_t* packetBuffer) {
  const int64_t length = file.Length();
  std::memset(image, 0, kImageSize);
  if (length < 0) {
    LoadStats stats;
    stats.readError = true;
    return stats;
  }
  S19ImageBuilder builder(image, packetBuffer);
  ByteReader reader(file, length);
  for (;;) {
    const int c = reader.Next();
    if (c == ByteReader::kError) {
      LoadStats stats = builder.stats();
      stats.readError = true;
      return stats;
    }
    if (c == ByteReader::kEnd) break;
    builder.Feed(static_cast<uint8_t>(c));
  }
  // A last line without a line end carries data like any other.
  builder.Finish();
  return builder.stats();
}

}  // namespace fennwick
