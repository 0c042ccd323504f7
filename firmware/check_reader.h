#pragma once
// What the strict readers of firmware files share: the message helpers, the programming
// run's loader run beside them, and the line-by-line reading that builds the image with
// the line behind each byte. Private to firmware/.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/examine.h"
#include "firmware/firmware_file.h"
#include "firmware/s19_loader.h"

namespace fennwick::check_detail {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A character of a file as it can be shown in a message.
std::string Shown(uint8_t c);
bool IsBlank(std::string_view line);
int HexValue(uint8_t c);

// The programming run's own loader, run over the same bytes beside the strict reading: its
// image is the one that gets flashed, so it is the one the check reports, and wherever it
// differs from what the records mean, the check says so.
class LoaderShadow {
 public:
  LoaderShadow() : image_(kImageSize, 0), owner_(kImageSize, 0), builder_(image_.data(), packet_) {
    builder_.OnWrite([this](size_t k) { owner_[k] = line_; });
  }
  void Feed(uint8_t c, uint32_t lineNo) {
    line_ = lineNo;
    builder_.Feed(c);
  }
  void Finish(uint32_t lineNo) {
    line_ = lineNo;
    builder_.Finish();
  }
  const std::vector<uint8_t>& image() const { return image_; }
  const std::vector<uint32_t>& owner() const { return owner_; }
  const LoadStats& stats() const { return builder_.stats(); }
  // The line buffer as far as any line reached into it; the rest is whatever it held before.
  std::vector<uint8_t> Remains() const { return std::vector<uint8_t>(packet_, packet_ + builder_.reach()); }
  bool Wrote() const {
    return std::any_of(owner_.begin(), owner_.end(), [](uint32_t line) { return line != 0; });
  }

 private:
  std::vector<uint8_t> image_;
  std::vector<uint32_t> owner_;  // the line that the loader last wrote each byte from
  uint8_t packet_[kPacketBufferSize] = {};
  uint32_t line_ = 0;
  S19ImageBuilder builder_;
};

// What both readers share: the image with the line that wrote each byte, the problems,
// the line splitting and the finishing touches.
class Reader {
 public:
  explicit Reader(FirmwareFormat format) : owner_(kImageSize, 0) {
    r_.format = format;
    r_.image.assign(kImageSize, 0);
  }
  virtual ~Reader() = default;

  FirmwareReport Run(IFile& file, ExaminationScanner* exam, LoaderShadow* shadow = nullptr,
                     ExaminationScan* scanOut = nullptr) {
    const int64_t length = file.Length();
    if (length < 0) {
      r_.readError = true;
      return std::move(r_);
    }
    ByteReader reader(file, length);
    std::string line;
    bool overlong = false;
    bool afterCr = false;
    uint32_t lineNo = 1;
    int64_t lineFeeds = 0;
    bool tail = false;  // bytes after the last LF
    for (;;) {
      const int c = reader.Next();
      if (c == ByteReader::kError) {
        r_.readError = true;
        return std::move(r_);
      }
      if (c == ByteReader::kEnd) break;
      if (exam) exam->Feed(static_cast<uint8_t>(c));
      if (shadow) shadow->Feed(static_cast<uint8_t>(c), lineNo);
      if (c == '\n') {
        ++lineFeeds;
        tail = false;
      } else {
        tail = true;
      }
      if (c == '\n' && afterCr) {  // CR LF ends one line
        afterCr = false;
        continue;
      }
      afterCr = c == '\r';
      if (c == '\r' || c == '\n') {
        EndLine(line, lineNo, overlong, true);
        line.clear();
        overlong = false;
        if (lineNo < std::numeric_limits<uint32_t>::max()) ++lineNo;
        continue;
      }
      if (line.size() < kLineBufferSize) {
        line.push_back(static_cast<char>(c));
      } else {
        overlong = true;
      }
    }
    if (!line.empty() || overlong) EndLine(line, lineNo, overlong, false);
    if (shadow) shadow->Finish(lineNo);
    r_.lineCount = ExaminationLineCount(lineFeeds, tail);

    Finish();
    if (shadow) AdoptLoaderImage(*shadow);
    // The programming run sends the loader's image where there is one, so its writes decide.
    r_.hasData =
        shadow ? shadow->Wrote() : std::any_of(owner_.begin(), owner_.end(), [](uint32_t l) { return l != 0; });
    if (!r_.hasData && ReportsLines()) Problem(0, "no data for the flash: programming would only erase it to zeros");
    // A file of no known format is scanned only for the examination: the check says nothing
    // of its description.
    if (exam) {
      const ExaminationScan scan = exam->Finish();
      if (scanOut) *scanOut = scan;
      if (ReportsLines()) {
        r_.description = scan.description;
        CompareDescriptions(scan.windowed);
      } else {
        r_.description = ImageDescription();
      }
    } else {
      r_.description = ImageDescription();
    }
    std::stable_sort(r_.problems.begin(), r_.problems.end(), [](const FileProblem& a, const FileProblem& b) {
      auto key = [](const FileProblem& p) { return p.line == 0 ? std::numeric_limits<uint32_t>::max() : p.line; };
      return key(a) < key(b);
    });
    Ranges();
    r_.crc32 = ImageCrc32(r_.image.data());
    return std::move(r_);
  }

 protected:
  virtual void Record(std::string_view line, uint32_t lineNo) = 0;
  virtual void Finish() {}
  // False for a file of no known format: one problem says it all.
  virtual bool ReportsLines() const { return true; }
  bool SawContent() const { return sawContent_; }

  void Problem(uint32_t line, std::string text) {
    // Whole-file problems are few and must not be crowded out by a file of garbage.
    if (r_.problems.size() < kMaxListedProblems || line == 0) {
      r_.problems.push_back({line, std::move(text)});
    } else {
      ++r_.unlistedProblems;
    }
  }

  // Decodes the hex digits of `line` from `from` on. False, with the problem reported,
  // when a character is no hex digit or a digit has no partner.
  bool DecodeHex(std::string_view line, size_t from, uint32_t lineNo, std::vector<uint8_t>& out) {
    out.clear();
    for (size_t i = from; i < line.size(); ++i) {
      if (HexValue(static_cast<uint8_t>(line[i])) < 0) {
        Problem(lineNo, Format("%s in column %zu is not a hex digit", Shown(static_cast<uint8_t>(line[i])).c_str(),
                               i + 1));
        return false;
      }
    }
    if ((line.size() - from) % 2 != 0) {
      Problem(lineNo, "odd number of hex digits");
      return false;
    }
    for (size_t i = from; i < line.size(); i += 2) {
      out.push_back(static_cast<uint8_t>((HexValue(static_cast<uint8_t>(line[i])) << 4) |
                                         HexValue(static_cast<uint8_t>(line[i + 1]))));
    }
    return true;
  }

  // Puts `n` bytes at the consecutive MCU addresses from `address` on, reporting what lies
  // outside the flash and what an earlier line wrote already. Later data wins, as in the
  // programming run.
  void Write(uint32_t lineNo, uint64_t address, const uint8_t* data, size_t n) {
    if (n == 0) return;
    const uint64_t end = address + n;  // exclusive
    if (address < kFlashBase || end > kFlashEnd) {
      auto outside = [&](uint64_t from, uint64_t to) {  // [from, to)
        if (from >= to) return;
        r_.outOfRangeBytes += to - from;
        Problem(lineNo, Format("data at 0x%05llX-0x%05llX lies outside the flash (0x%05X-0x%05X)",
                               static_cast<unsigned long long>(from), static_cast<unsigned long long>(to - 1),
                               kFlashBase, kFlashLast));
      };
      outside(address, std::min<uint64_t>(end, kFlashBase));
      outside(std::max<uint64_t>(address, kFlashEnd), end);
    }
    const uint64_t from = std::max<uint64_t>(address, kFlashBase);
    const uint64_t to = std::min<uint64_t>(end, kFlashEnd);
    for (uint64_t a = from; a < to;) {
      const size_t k = static_cast<size_t>(a - kFlashBase);
      const uint32_t earlier = owner_[k];
      if (earlier != 0) {
        uint64_t runEnd = a;
        while (runEnd < to && owner_[static_cast<size_t>(runEnd - kFlashBase)] == earlier) ++runEnd;
        Problem(lineNo, Format("0x%05llX-0x%05llX written again; line %u wrote it first",
                               static_cast<unsigned long long>(a), static_cast<unsigned long long>(runEnd - 1),
                               earlier));
        for (; a < runEnd; ++a) Put(lineNo, a, data[a - address]);
      } else {
        Put(lineNo, a, data[a - address]);
        ++a;
      }
    }
  }

  FirmwareReport r_;

 private:
  void Put(uint32_t lineNo, uint64_t address, uint8_t value) {
    const size_t k = static_cast<size_t>(address - kFlashBase);
    r_.image[k] = value;
    owner_[k] = lineNo;
  }

  void EndLine(std::string_view line, uint32_t lineNo, bool overlong, bool terminated) {
    if (overlong || !IsBlank(line)) sawContent_ = true;
    if (overlong) {
      ++r_.overlongLines;
      if (ReportsLines()) Problem(lineNo, Format("longer than %zu characters; not read", kLineBufferSize));
      return;
    }
    if (IsBlank(line)) return;
    if (!terminated && ReportsLines()) Problem(lineNo, "the last line has no line end; readers that need one drop it");
    Record(line, lineNo);
  }

  DescriptionBlock ImageDescription() const { return DescriptionOfImage(r_.image.data()); }

  // The examination reads an S19 file its own way; a block that it would miss or read
  // differently means the operator is told something other than what gets flashed.
  void CompareDescriptions(const DescriptionBlock& seen) {
    const DescriptionBlock flashed = ImageDescription();
    if (!seen.present && !flashed.present) return;
    if (seen == flashed) return;
    // The flash gets what the file says; only the operator's advice differs, so warn.
    const uint32_t line = owner_[kDescriptionAddress - kFlashBase];
    if (flashed.present && !seen.present) {
      r_.warnings.push_back({line, Format("the image has a description block at 0x%X that the file examination does "
                                          "not find (it reads S1 records below 0x%X in lines ended by LF only)",
                                          kDescriptionAddress, kExaminedRecordLimit)});
    } else {
      r_.warnings.push_back({line, "the file examination finds a description block other than the one in the image"});
    }
  }

  void AdoptLoaderImage(const LoaderShadow& shadow) {
    const std::vector<uint8_t>& image = shadow.image();
    const std::vector<uint32_t>& by = shadow.owner();
    for (size_t k = 0; ReportsLines() && k < kImageSize;) {
      if (image[k] == r_.image[k]) {
        ++k;
        continue;
      }
      const size_t start = k;
      while (k < kImageSize && image[k] != r_.image[k] && by[k] == by[start] && owner_[k] == owner_[start]) ++k;
      const unsigned first = static_cast<unsigned>(kFlashBase + start);
      const unsigned last = static_cast<unsigned>(kFlashBase + k - 1);
      if (by[start] == 0) {
        Problem(owner_[start], Format("the programming run does not write 0x%05X-0x%05X as this line gives", first,
                                      last));
      } else if (owner_[start] == 0) {
        Problem(by[start], Format("the programming run writes 0x%05X-0x%05X from this line, which holds no data "
                                  "for them as the format reads it", first, last));
      } else {
        Problem(by[start], Format("the programming run writes other data at 0x%05X-0x%05X than line %u gives",
                                  first, last, owner_[start]));
      }
    }
    // Whatever the loader wrote is in the image, and so in the data ranges.
    for (size_t k = 0; k < kImageSize; ++k) {
      if (by[k] != 0) owner_[k] = by[k];
    }
    r_.image = image;
  }

  void Ranges() {
    for (size_t k = 0; k < kImageSize;) {
      if (owner_[k] == 0) {
        ++k;
        continue;
      }
      const size_t start = k;
      while (k < kImageSize && owner_[k] != 0) ++k;
      r_.ranges.push_back({static_cast<uint32_t>(kFlashBase + start), static_cast<uint32_t>(kFlashBase + k - 1)});
    }
  }

  std::vector<uint32_t> owner_;  // the line that last wrote each image byte, 0 for none
  bool sawContent_ = false;
};


// What a check leaves beside its report for a firmware that is loaded once: the loader's
// counts and its line buffer, and the examination's scan.
struct CheckExtras {
  LoadStats loader;
  std::vector<uint8_t> remains;
  ExaminationScan scan;
};

// The checks, with what they leave in `extras` (S19 and files of no known format only).
FirmwareReport CheckS19(IFile& file, CheckExtras* extras);
FirmwareReport CheckFirmware(IFile& file, CheckExtras* extras);
FirmwareReport CheckUnknown(IFile& file, CheckExtras* extras);

}  // namespace fennwick::check_detail
