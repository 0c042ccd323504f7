#pragma once
// The file examination's reading of an S19 file: lines end at LF only, the line buffer is
// never cleared, and only S1 records below 0x8A00 are stored, each at its own 16-bit address.
// It tells what the operator is shown before flashing (the description block at 0x8100 and
// the line count); it logs nothing and knows no port.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "firmware/flash_geometry.h"
#include "platform/file.h"

namespace fennwick {

// The description block at MCU address 0x8100.
struct DescriptionBlock {
  bool present = false;             // '$' at 0x8100
  std::string first;                // zero-terminated text from 0x8100, the '$' included
  std::string second;               // zero-terminated text from 0x8120
  std::array<uint8_t, 3> compat{};  // bytes 0x8106..0x8108, compared with the MCU's version
  bool operator==(const DescriptionBlock&) const = default;
};

// The description block of a 131,072-byte flash image (MCU address 0x8000 + k at index k),
// its texts ending at 0x81FF at the latest.
DescriptionBlock DescriptionOfImage(const uint8_t* image);

// Lines as the examination counts them: one per line feed, and a last line without one only
// in a file that holds line feeds at all (a file of CR line ends is no line).
int32_t ExaminationLineCount(int64_t lineFeeds, bool unendedTail);

struct ExaminationScan {
  int32_t lineCount = 0;
  // As the examination prints it: the texts run to their zero byte wherever it lies.
  DescriptionBlock description;
  // The same block cut at 0x81FF, as DescriptionOfImage reads an image: what the strict
  // check compares with the image that gets flashed.
  DescriptionBlock windowed;
  bool readError = false;    // the file failed mid-read (or its length could not be told)
  bool outOfMemory = false;  // no scratch image: nothing was read
};

// The scan fed one byte at a time, for a reader that goes over the file once for several
// purposes (the strict check).
class ExaminationScanner {
 public:
  ExaminationScanner();
  ~ExaminationScanner();
  ExaminationScanner(const ExaminationScanner&) = delete;
  ExaminationScanner& operator=(const ExaminationScanner&) = delete;

  // False when the scratch image could not be had; Feed then does nothing.
  bool ok() const { return scratch_ != nullptr; }
  void Feed(uint8_t c);
  // Ends the scan: applies a last line without a line feed where that counts.
  ExaminationScan Finish();

 private:
  void EndLine();

  std::unique_ptr<uint8_t[]> scratch_;  // scratch byte k is MCU address k
  std::array<uint8_t, kLineBufferSize> line_{};
  size_t pos_ = 0;
  int64_t lineFeeds_ = 0;
};

// Reads the whole file (opened, not yet read) the examination's way. A read that fails ends
// the scan there, as if the file ended.
ExaminationScan ScanForExamination(IFile& file);

}  // namespace fennwick
