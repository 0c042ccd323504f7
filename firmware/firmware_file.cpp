#include "firmware/firmware_file.h"

#include "firmware/raw_binary.h"

#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <string_view>

namespace fennwick {

namespace {

// Longer than any S-record (514 characters) or Intel HEX record (521); the flashing
// path's line buffer has the same size.

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

// A character of a file as it can be shown in a message.
std::string Shown(uint8_t c) {
  if (c >= 0x20 && c < 0x7F && c != '\'') return Format("'%c'", c);
  return Format("byte 0x%02X", c);
}

bool IsBlank(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

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

  FirmwareReport Run(IFile& file, ExaminationScanner* exam, LoaderShadow* shadow = nullptr) {
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
    if (exam) {
      const ExaminationScan scan = exam->Finish();
      r_.description = scan.description;
      CompareDescriptions(scan.windowed);
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

class S19Reader final : public Reader {
 public:
  S19Reader() : Reader(FirmwareFormat::S19) {}

 private:
  void Record(std::string_view line, uint32_t lineNo) override {
    if (line[0] != 'S') {
      Problem(lineNo, "not an S-record: starts with " + Shown(static_cast<uint8_t>(line[0])));
      return;
    }
    if (line.size() < 2) {
      Problem(lineNo, "record too short");
      return;
    }
    // Address bytes of S0..S9; S4 is not defined.
    static constexpr int kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
    const uint8_t typeChar = static_cast<uint8_t>(line[1]);
    if (typeChar < '0' || typeChar > '9' || kAddressBytes[typeChar - '0'] == 0) {
      const std::string shown = typeChar >= 0x20 && typeChar < 0x7F ? std::string(1, static_cast<char>(typeChar))
                                                                     : Format("<0x%02X>", typeChar);
      Problem(lineNo, "unknown record type S" + shown);
      return;
    }
    const int type = typeChar - '0';
    const size_t addressBytes = static_cast<size_t>(kAddressBytes[type]);
    if (!DecodeHex(line, 2, lineNo, bytes_)) return;
    if (bytes_.empty()) {
      Problem(lineNo, "record too short");
      return;
    }
    const size_t count = bytes_[0];
    if (count != bytes_.size() - 1) {
      Problem(lineNo, Format("count 0x%02zX does not match the %zu bytes that follow it", count, bytes_.size() - 1));
      return;
    }
    if (count < addressBytes + 1) {
      Problem(lineNo, Format("count 0x%02zX too small for an S%d record", count, type));
      return;
    }
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < bytes_.size(); ++i) sum += bytes_[i];
    const uint8_t expected = static_cast<uint8_t>(~sum & 0xFF);
    if (bytes_.back() != expected) {
      Problem(lineNo, Format("checksum 0x%02X, expected 0x%02X", bytes_.back(), expected));
    }
    uint64_t address = 0;
    for (size_t i = 1; i <= addressBytes; ++i) address = (address << 8) | bytes_[i];
    const uint8_t* data = bytes_.data() + 1 + addressBytes;
    const size_t n = count - addressBytes - 1;
    switch (type) {
      case 1:
      case 2:
      case 3:
        ++dataRecords_;
        countCloses_ = false;
        Write(lineNo, address, data, n);
        break;
      case 5:
      case 6: {
        if (n > 0) Problem(lineNo, Format("an S%d record holds no data, but this one carries %zu bytes", type, n));
        const uint64_t seen = dataRecords_ & (type == 5 ? 0xFFFFu : 0xFFFFFFu);
        // A count that matches closes the data as well as an end record does: writers that
        // know no start address end their files with it.
        countCloses_ = n == 0 && address == seen;
        if (address != seen) {
          Problem(lineNo, Format("record count %llu, but %llu data records precede it",
                                 static_cast<unsigned long long>(address), static_cast<unsigned long long>(seen)));
        }
        break;
      }
      case 7:
      case 8:
      case 9:
        if (n > 0) Problem(lineNo, Format("an S%d record holds no data, but this one carries %zu bytes", type, n));
        endLine_ = lineNo;
        break;
      default:  // the header's text carries nothing for the flash
        break;
    }
  }

  // A file cut at a line boundary (a producer that died, a partial copy) is whole line by
  // line; only the missing end record tells.
  void Finish() override {
    if (endLine_ == 0 && !countCloses_) {
      Problem(0, "no end record (S7, S8 or S9, or a record count after the last data); the file may have been "
                 "cut short");
    }
  }

  std::vector<uint8_t> bytes_;
  uint64_t dataRecords_ = 0;
  uint32_t endLine_ = 0;
  bool countCloses_ = false;  // an S5 or S6 record that counts every data record before it
};

class IntelHexReader final : public Reader {
 public:
  IntelHexReader() : Reader(FirmwareFormat::IntelHex) {}

 private:
  void Record(std::string_view line, uint32_t lineNo) override {
    if (eofLine_ != 0) {
      // Whatever follows the end is not part of the file; said once.
      if (!afterEofReported_) {
        Problem(lineNo, Format("data after the end-of-file record of line %u; not read", eofLine_));
        afterEofReported_ = true;
      }
      return;
    }
    if (line[0] != ':') {
      Problem(lineNo, "not an Intel HEX record: starts with " + Shown(static_cast<uint8_t>(line[0])));
      return;
    }
    if (!DecodeHex(line, 1, lineNo, bytes_)) return;
    if (bytes_.size() < 5) {
      Problem(lineNo, "record too short");
      return;
    }
    const size_t count = bytes_[0];
    if (count + 5 != bytes_.size()) {
      Problem(lineNo, Format("byte count 0x%02zX does not match the %zu data bytes on the line", count,
                             bytes_.size() - 5));
      return;
    }
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < bytes_.size(); ++i) sum += bytes_[i];
    const uint8_t expected = static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
    if (bytes_.back() != expected) {
      Problem(lineNo, Format("checksum 0x%02X, expected 0x%02X", bytes_.back(), expected));
    }
    const uint32_t offset = (static_cast<uint32_t>(bytes_[1]) << 8) | bytes_[2];
    const uint8_t type = bytes_[3];
    const uint8_t* data = bytes_.data() + 4;
    auto needs = [&](size_t n, const char* what) {
      if (count == n) return true;
      Problem(lineNo, Format("%s record with %zu data bytes instead of %zu", what, count, n));
      return false;
    };
    switch (type) {
      case 0x00:
        if (segmented_) {
          // The offset wraps within the 64 KiB segment.
          const size_t first = std::min<size_t>(count, 0x10000 - offset);
          Write(lineNo, base_ + offset, data, first);
          Write(lineNo, base_, data + first, count - first);
        } else {
          Write(lineNo, base_ + offset, data, count);
        }
        break;
      case 0x01:
        if (needs(0, "end-of-file")) eofLine_ = lineNo;
        break;
      case 0x02:
        if (needs(2, "extended segment address")) {
          base_ = ((static_cast<uint64_t>(data[0]) << 8) | data[1]) << 4;
          segmented_ = true;
        }
        break;
      case 0x04:
        if (needs(2, "extended linear address")) {
          base_ = ((static_cast<uint64_t>(data[0]) << 8) | data[1]) << 16;
          segmented_ = false;
        }
        break;
      case 0x03:
        needs(4, "start segment address");
        break;
      case 0x05:
        needs(4, "start linear address");
        break;
      default:
        Problem(lineNo, Format("unknown record type 0x%02X", type));
        break;
    }
  }

  void Finish() override {
    if (eofLine_ == 0) Problem(0, "no end-of-file record (:00000001FF)");
  }

  std::vector<uint8_t> bytes_;
  uint64_t base_ = 0;
  bool segmented_ = false;
  uint32_t eofLine_ = 0;
  bool afterEofReported_ = false;
};

// Reads a file no reader takes: it still gets its line count and an empty image.
class UnknownReader final : public Reader {
 public:
  UnknownReader() : Reader(FirmwareFormat::Unknown) {}

 private:
  void Record(std::string_view, uint32_t) override {}
  bool ReportsLines() const override { return false; }
  void Finish() override {
    Problem(0, SawContent() ? "neither an S19 nor an Intel HEX file" : "the file holds no records");
  }
};

// The format that the first non-blank line shows; bytes before the file's content gives
// it away are taken from `next`.
FirmwareFormat Detect(const std::function<int()>& next) {
  int c;
  do {
    c = next();
  } while (c == '\r' || c == '\n' || c == ' ' || c == '\t');
  if (c == ':') return FirmwareFormat::IntelHex;
  if (c == 'S') {
    const int d = next();
    if (d >= '0' && d <= '9') return FirmwareFormat::S19;
  }
  return FirmwareFormat::Unknown;
}

// Replays the bytes that detection took before handing out the rest of the file.
class ReplayFile final : public IFile {
 public:
  ReplayFile(IFile& inner, std::string head, int64_t length)
      : inner_(inner), head_(std::move(head)), length_(length) {}
  int64_t Length() override { return length_; }
  int64_t Read(uint8_t* buf, size_t n) override {
    if (pos_ < head_.size()) {
      const size_t k = std::min(n, head_.size() - pos_);
      std::memcpy(buf, head_.data() + pos_, k);
      pos_ += k;
      return static_cast<int64_t>(k);
    }
    return inner_.Read(buf, n);
  }

 private:
  IFile& inner_;
  std::string head_;
  int64_t length_;
  size_t pos_ = 0;
};

}  // namespace

const char* FirmwareFormatName(FirmwareFormat format) {
  switch (format) {
    case FirmwareFormat::S19: return "S19";
    case FirmwareFormat::IntelHex: return "Intel HEX";
    case FirmwareFormat::Binary: return "binary";
    case FirmwareFormat::Unknown: break;
  }
  return "unknown";
}

FirmwareFormat DetectFirmwareFormat(IFile& file) {
  ByteReader reader(file, file.Length());
  return Detect([&] { return reader.Next(); });
}

FirmwareReport CheckS19(IFile& file) {
  ExaminationScanner exam;
  if (!exam.ok()) throw std::bad_alloc();  // as the check's other images do
  LoaderShadow loader;
  return S19Reader().Run(file, &exam, &loader);
}

FirmwareReport CheckIntelHex(IFile& file) { return IntelHexReader().Run(file, nullptr); }

FirmwareReport CheckFirmware(IFile& file) {
  const int64_t length = file.Length();
  if (length < 0) {
    FirmwareReport r;
    r.image.assign(kImageSize, 0);
    r.readError = true;
    return r;
  }
  // Detection reads from the file itself, so that the bytes it took can be replayed to
  // the reader chosen.
  std::string head;
  size_t at = 0;
  bool failed = false;
  bool shrank = false;
  const FirmwareFormat format = Detect([&]() -> int {
    if (at == head.size()) {
      const int64_t left = length - static_cast<int64_t>(head.size());
      if (left <= 0 || failed || shrank) return ByteReader::kEnd;
      uint8_t chunk[4096];
      const int64_t got = file.Read(chunk, static_cast<size_t>(std::min<int64_t>(left, sizeof chunk)));
      if (got <= 0) {
        // An error, or a file that shrank under us: the rest never comes.
        (got < 0 ? failed : shrank) = true;
        return ByteReader::kEnd;
      }
      head.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(got));
    }
    return static_cast<uint8_t>(head[at++]);
  });
  if (failed) {
    FirmwareReport r;
    r.image.assign(kImageSize, 0);
    r.readError = true;
    return r;
  }
  // The length is taken before `head` is moved: the order in which arguments are evaluated
  // is the compiler's choice.
  const int64_t replayLength = shrank ? static_cast<int64_t>(head.size()) : length;
  ReplayFile replay(file, std::move(head), replayLength);
  switch (format) {
    case FirmwareFormat::S19: return CheckS19(replay);
    case FirmwareFormat::IntelHex: return CheckIntelHex(replay);
    case FirmwareFormat::Binary:  // never told by content
    case FirmwareFormat::Unknown: break;
  }
  // Such a file, flashed all the same, goes through the S19 loader.
  LoaderShadow loader;
  return UnknownReader().Run(replay, nullptr, &loader);
}

FirmwareImage MakeFirmwareImage(std::string bytes, FirmwareFormat format, uint32_t base) {
  FirmwareImage firmware;
  auto shared = std::make_shared<const std::string>(std::move(bytes));
  BytesFile file(shared);
  switch (format) {
    case FirmwareFormat::S19: firmware.report = CheckS19(file); break;
    case FirmwareFormat::IntelHex: firmware.report = CheckIntelHex(file); break;
    case FirmwareFormat::Binary: firmware.report = CheckBinary(file, base); break;
    case FirmwareFormat::Unknown: firmware.report = CheckFirmware(file); break;
  }
  firmware.bytes = std::move(shared);
  return firmware;
}

LoadStats LoadIntelHexImage(IFile& file, uint8_t* image, uint8_t* /*packetBuffer*/, bool acceptProblems) {
  const FirmwareReport report = CheckIntelHex(file);
  LoadStats stats;
  stats.outOfRangeBytes = report.outOfRangeBytes;
  stats.overlongLines = report.overlongLines;
  stats.readError = report.readError || (!acceptProblems && report.HasProblems());
  std::memcpy(image, report.image.data(), kImageSize);
  return stats;
}

uint32_t ImageCrc32(const uint8_t* image) {
  const uLong crc = crc32(0L, Z_NULL, 0);
  return static_cast<uint32_t>(crc32(crc, image, static_cast<uInt>(kImageSize)));
}

std::string ProblemLine(const FileProblem& problem) {
  return (problem.line == 0 ? std::string("file") : "line " + std::to_string(problem.line)) + ": " + problem.text;
}

std::string CountOf(size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

std::vector<std::string> CheckSummary(const FirmwareReport& report, size_t maxListed) {
  std::vector<std::string> lines;
  if (!report.HasProblems()) return lines;
  for (size_t i = 0; i < report.problems.size() && i < maxListed; ++i) {
    lines.push_back("File check: " + ProblemLine(report.problems[i]));
  }
  if (report.readError) lines.push_back("File check: the file could not be read to its end");
  lines.push_back("File check: " + CountOf(report.ProblemCount(), "problem", "problems") + " in all.");
  return lines;
}

}  // namespace fennwick
