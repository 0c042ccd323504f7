#include <cstring>
#include <memory>
#include <new>

#include "link/log_console.h"
#include "link/mcu_port.h"

namespace {
constexpr size_t kScratchSize = 0x20000;  // image byte k is MCU address k
constexpr size_t kLineBufferSize = 1024;
constexpr uint32_t kRecordLimit = 0x8A00;
constexpr size_t kDescription = 0x8100;
constexpr size_t kSecondText = 0x8120;

// Stores one S1 record's data at its absolute address. Every field read stays within the
// line buffer, however short the line or wild its count.
void StoreS1(const uint8_t* line, uint8_t* image) {
  uint32_t address = 0;
  for (size_t p = 4; p <= 7; ++p) address = (address << 4) + HexNibble(line[p]);
  address &= 0xFFFF;
  if (address >= kRecordLimit) return;
  // Not truncated to a byte: non-hex digits give nibbles above 15, and so larger counts.
  const int count = (HexNibble(line[2]) << 4) + HexNibble(line[3]);
  const int length = count - 3;
  for (int i = 0; i < length; ++i) {
    const size_t hi = 8 + 2 * static_cast<size_t>(i);
    if (hi + 1 >= kLineBufferSize) break;
    image[address + static_cast<uint32_t>(i)] =
        static_cast<uint8_t>((HexNibble(line[hi]) << 4) | HexNibble(line[hi + 1]));
  }
}
}  // namespace

int CMcuPort::ExamineFile(const char16_t* path) {
  m_examine = ExamineOutcome{};
  std::unique_ptr<IFile> file = path != nullptr ? m_files.OpenRead(path) : nullptr;
  if (!file) {
    m_examine.verdict = ExamineOutcome::Verdict::FileNotOpened;
    return 0;
  }
  Log("\r\nReading file information....\r\n");
  const int64_t length = file->Length();
  std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[kScratchSize]);
  if (!image) {
    Log("Out of memory to read file\r\n");
    m_examine.verdict = ExamineOutcome::Verdict::OutOfMemory;
    return 0;
  }
  std::memset(image.get(), 0, kScratchSize);
  m_lineCount = 0;

  uint8_t line[kLineBufferSize] = {};
  size_t pos = 0;
  auto endLine = [&] {
    ++m_lineCount;
    pos = 0;
    if (line[1] == '1') StoreS1(line, image.get());
  };
  ByteReader reader(*file, length);
  for (;;) {
    const int c = reader.Next();
    if (c == ByteReader::kError || (c == ByteReader::kEnd && length < 0)) {
      Log("Read S19 File failed!\r\n");
      m_examine.readError = true;
      break;
    }
    if (c == ByteReader::kEnd) break;
    if (c == '\n') {
      endLine();
    } else if (pos < kLineBufferSize) {
      line[pos++] = static_cast<uint8_t>(c);
    }
    // Characters past the line buffer are dropped.
  }
  // A last line without a line feed counts and loads like the others, as it does for
  // the image that programming sends.
  if (pos > 0) endLine();

  Describe(&image[kDescription]);
  SetProgressRangeOn(Progress(), m_lineCount);
  return 1;
}

// `block` points at MCU address 0x8100 with at least 0x100 bytes behind it, zero-ended.
void CMcuPort::Describe(const uint8_t* block) {
  const size_t kSecond = kSecondText - kDescription;
  if (block[0] != '$') {
    Log("This file has no description.");
    m_examine.verdict = ExamineOutcome::Verdict::NoDescription;
    return;
  }
  Log("-----Selected S19 File Desc-----\r\nVersion: %s%s", reinterpret_cast<const char*>(block),
      reinterpret_cast<const char*>(block + kSecond));
  if (std::memcmp(block + 6, m_mcuVersion + 6, 3) == 0) {
    Log("Please click \"Start\" to update current MCU.");
    m_examine.verdict = ExamineOutcome::Verdict::Suitable;
  } else {
    Log("!!!!!WARNNING!!!!!\r\nThe file you select is NOT suitable for current unit! Please confirm it "
        "before click \"Start\".");
    m_examine.verdict = ExamineOutcome::Verdict::Unsuitable;
  }
}

int CMcuPort::ExamineImage(const uint8_t* flashImage, int32_t lineCount) {
  m_examine = ExamineOutcome{};
  Log("\r\nReading file information....\r\n");
  m_lineCount = lineCount;
  // The texts must end inside the image whatever it holds.
  uint8_t block[0x101] = {};
  std::memcpy(block, flashImage + (kDescription - 0x8000), 0x100);
  Describe(block);
  SetProgressRangeOn(Progress(), m_lineCount);
  return 1;
}
