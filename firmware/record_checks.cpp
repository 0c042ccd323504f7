// The strict readers of S19 and Intel HEX, and of a file that is neither.
#include <cstring>
#include <new>

#include "firmware/check_reader.h"

namespace fennwick {

namespace check_detail {

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


FirmwareReport CheckS19(IFile& file, CheckExtras* extras) {
  ExaminationScanner exam;
  if (!exam.ok()) throw std::bad_alloc();  // as the check's other images do
  LoaderShadow loader;
  FirmwareReport report = S19Reader().Run(file, &exam, &loader, extras ? &extras->scan : nullptr);
  if (extras) {
    extras->loader = loader.stats();
    extras->remains = loader.Remains();
  }
  return report;
}

// Such a file, flashed all the same, goes through the S19 loader, and is examined as one.
FirmwareReport CheckUnknown(IFile& file, CheckExtras* extras) {
  LoaderShadow loader;
  if (!extras) return UnknownReader().Run(file, nullptr, &loader);
  ExaminationScanner exam;
  if (!exam.ok()) throw std::bad_alloc();
  FirmwareReport report = UnknownReader().Run(file, &exam, &loader, &extras->scan);
  extras->loader = loader.stats();
  extras->remains = loader.Remains();
  return report;
}

}  // namespace check_detail

FirmwareReport CheckS19(IFile& file) { return check_detail::CheckS19(file, nullptr); }

FirmwareReport CheckIntelHex(IFile& file) { return check_detail::IntelHexReader().Run(file, nullptr); }

LoadStats LoadIntelHexImage(IFile& file, uint8_t* image, uint8_t* /*packetBuffer*/, bool acceptProblems) {
  const FirmwareReport report = CheckIntelHex(file);
  LoadStats stats;
  stats.outOfRangeBytes = report.outOfRangeBytes;
  stats.overlongLines = report.overlongLines;
  stats.readError = report.readError || (!acceptProblems && report.HasProblems());
  std::memcpy(image, report.image.data(), kImageSize);
  return stats;
}


}  // namespace fennwick
