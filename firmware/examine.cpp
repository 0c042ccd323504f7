#include "firmware/examine.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "firmware/s19_loader.h"

namespace fennwick {

namespace {
constexpr size_t kScratchSize = 0x20000;  // scratch byte k is MCU address k

// The texts of a description block: each runs to its zero byte, at most to the end of the
// `avail` bytes that `block` offers (the last of which is zero).
DescriptionBlock DescriptionFrom(const uint8_t* block, size_t avail) {
  DescriptionBlock d;
  d.present = block[0] == '$';
  auto text = [&](size_t from) {
    const uint8_t* p = block + from;
    const size_t n = static_cast<size_t>(std::find(p, p + (avail - from), 0) - p);
    return std::string(reinterpret_cast<const char*>(p), n);
  };
  d.first = text(0);
  d.second = text(kSecondTextAddress - kDescriptionAddress);
  std::copy(block + 6, block + 9, d.compat.begin());
  return d;
}

// The first 0x100 bytes of a block, zero-ended, so that its texts end inside whatever it holds.
DescriptionBlock WindowDescription(const uint8_t* block) {
  uint8_t window[kDescriptionWindow + 1] = {};
  std::memcpy(window, block, kDescriptionWindow);
  return DescriptionFrom(window, sizeof window);
}

// A last line without a line feed counts and loads like the others, as it does for the image
// that programming sends; but in a file without any line feed the records stand on CR line
// ends, which the examination does not split: such a file is no line.
bool LastLineCounts(int64_t lineFeeds, bool unendedTail) { return unendedTail && lineFeeds > 0; }
}  // namespace

DescriptionBlock DescriptionOfImage(const uint8_t* image) {
  return WindowDescription(image + (kDescriptionAddress - kFlashBase));
}

int32_t ExaminationLineCount(int64_t lineFeeds, bool unendedTail) {
  const int64_t lines = lineFeeds + (LastLineCounts(lineFeeds, unendedTail) ? 1 : 0);
  return static_cast<int32_t>(std::min<int64_t>(lines, std::numeric_limits<int32_t>::max()));
}

ExaminationScanner::ExaminationScanner() : scratch_(new (std::nothrow) uint8_t[kScratchSize]) {
  if (scratch_) std::memset(scratch_.get(), 0, kScratchSize);
}

ExaminationScanner::~ExaminationScanner() = default;

void ExaminationScanner::Feed(uint8_t c) {
  if (!ok()) return;
  if (c == '\n') {
    ++lineFeeds_;
    EndLine();
  } else if (pos_ < line_.size()) {
    line_[pos_++] = c;
  }
  // Characters past the line buffer are dropped.
}

// Stores an S1 record's data at its absolute address. Every field read stays within the
// line buffer, however short the line or wild its count.
void ExaminationScanner::EndLine() {
  pos_ = 0;
  if (line_[1] != '1') return;
  uint32_t address = 0;
  for (size_t p = 4; p <= 7; ++p) address = (address << 4) + HexNibble(line_[p]);
  address &= 0xFFFF;
  if (address >= kExaminedRecordLimit) return;
  // Not truncated to a byte: non-hex digits give nibbles above 15, and so larger counts.
  const int length = (HexNibble(line_[2]) << 4) + HexNibble(line_[3]) - 3;
  for (int i = 0; i < length; ++i) {
    const size_t hi = 8 + 2 * static_cast<size_t>(i);
    if (hi + 1 >= line_.size()) break;
    scratch_[address + static_cast<uint32_t>(i)] =
        static_cast<uint8_t>((HexNibble(line_[hi]) << 4) | HexNibble(line_[hi + 1]));
  }
}

ExaminationScan ExaminationScanner::Finish() {
  ExaminationScan scan;
  if (!ok()) {
    scan.outOfMemory = true;
    return scan;
  }
  const bool tail = pos_ > 0;
  scan.lineCount = ExaminationLineCount(lineFeeds_, tail);
  if (LastLineCounts(lineFeeds_, tail)) EndLine();
  const uint8_t* block = &scratch_[kDescriptionAddress];
  // No record reaches the scratch's end, so both texts end inside it.
  scan.description = DescriptionFrom(block, kScratchSize - kDescriptionAddress);
  scan.windowed = WindowDescription(block);
  return scan;
}

ExaminationScan ScanForExamination(IFile& file) {
  ExaminationScanner scanner;
  if (!scanner.ok()) return scanner.Finish();
  const int64_t length = file.Length();
  ByteReader reader(file, length);
  bool failed = false;
  for (;;) {
    const int c = reader.Next();
    if (c == ByteReader::kError || (c == ByteReader::kEnd && length < 0)) {
      failed = true;
      break;
    }
    if (c == ByteReader::kEnd) break;
    scanner.Feed(static_cast<uint8_t>(c));
  }
  ExaminationScan scan = scanner.Finish();
  scan.readError = failed;
  return scan;
}

}  // namespace fennwick
