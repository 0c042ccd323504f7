#pragma once
// Strict readers for firmware files (S19 and Intel HEX). They build the same flash image
// as the programming run, list the data ranges and report every problem with its line,
// so that a file can be judged before anything reaches the MCU. The S19 reader runs the
// programming run's loader and the examination's scan over the same bytes, so that it says
// wherever what is flashed or shown differs from what the records mean.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/examine.h"
#include "firmware/s19_loader.h"
#include "platform/file.h"

namespace fennwick {

// Binary (raw bytes) is never told by content, only by the file's name or the user's word.
enum class FirmwareFormat { Unknown, S19, IntelHex, Binary };

// "S19", "Intel HEX", "binary" or "unknown".
const char* FirmwareFormatName(FirmwareFormat format);

// Tells the format by content: the first line that is not blank starts with ':' (Intel
// HEX) or with 'S' and a digit (S19). Reads the file up to that line.
FirmwareFormat DetectFirmwareFormat(IFile& file);

struct FileProblem {
  uint32_t line = 0;  // 1-based; 0 when the problem concerns the file as a whole
  std::string text;
};

// A contiguous run of written flash bytes, MCU addresses inclusive.
struct DataRange {
  uint32_t first = 0;
  uint32_t last = 0;
  uint32_t Size() const { return last - first + 1; }
  bool operator==(const DataRange&) const = default;
};

struct FirmwareReport {
  FirmwareFormat format = FirmwareFormat::Unknown;
  std::vector<uint8_t> image;       // kImageSize bytes, MCU address 0x8000 + k at index k
  std::vector<DataRange> ranges;    // in address order
  std::vector<FileProblem> problems;  // in line order, the whole-file ones last
  // Worth knowing, but the file flashes as written: these do not refuse programming.
  std::vector<FileProblem> warnings;
  uint32_t unlistedProblems = 0;    // found beyond the list's limit
  int32_t lineCount = 0;            // as the examination counts them (ExaminationLineCount)
  // For S19 as the examination finds it (S1 records below 0x8A00 only); for Intel HEX
  // from the image, which is what the examination of such a file is given.
  DescriptionBlock description;
  uint32_t crc32 = 0;               // zlib's CRC-32 of the whole image
  uint64_t outOfRangeBytes = 0;     // data outside 0x8000..0x27FFF, not in the image
  uint32_t overlongLines = 0;       // lines too long to be records, not applied
  bool readError = false;           // the file failed mid-read; the report is incomplete
  // What gets flashed holds at least one byte that the file wrote. Without one the image is
  // all zeros, which no file asks for: such a file is never programmed, not even forced.
  bool hasData = false;

  bool HasProblems() const { return readError || !problems.empty() || unlistedProblems > 0; }
  size_t ProblemCount() const { return problems.size() + unlistedProblems; }
};

// At most this many problems are listed; a file of garbage would otherwise give one per line.
constexpr size_t kMaxListedProblems = 1000;

// Reads the whole file (opened, not yet read) in the format its content shows.
FirmwareReport CheckFirmware(IFile& file);
// Reads the whole file as the given format, whatever its content.
FirmwareReport CheckS19(IFile& file);
FirmwareReport CheckIntelHex(IFile& file);

// Image loader for the programming run: fills the 131,072-byte image from an Intel HEX
// file. Any problem in the file is reported as a read error, so that a damaged file is
// never flashed, unless `acceptProblems` is set (the operator insisted); a read error
// always is. `packetBuffer` is not used.
LoadStats LoadIntelHexImage(IFile& file, uint8_t* image, uint8_t* packetBuffer, bool acceptProblems = false);

// "line 12: checksum 0x5A, expected 0x5B", or "file: ..." for the file as a whole.
std::string ProblemLine(const FileProblem& problem);
// "1 problem", "3 problems".
std::string CountOf(size_t n, const char* one, const char* many);
// The strict check's findings in a few log lines: at most `maxListed` problems, then the
// count. None for a file without problems.
std::vector<std::string> CheckSummary(const FirmwareReport& report, size_t maxListed);
// zlib's CRC-32 of the 131,072-byte image.
uint32_t ImageCrc32(const uint8_t* image);

}  // namespace fennwick
