// Telling a firmware file's format by its content, and the check that goes by it.
#include <algorithm>
#include <cstring>
#include <functional>

#include "firmware/check_reader.h"

namespace fennwick {

namespace {

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

namespace check_detail {

FirmwareReport CheckFirmware(IFile& file, CheckExtras* extras) {
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
    case FirmwareFormat::S19: return CheckS19(replay, extras);
    case FirmwareFormat::IntelHex: return CheckIntelHex(replay);
    case FirmwareFormat::Binary:  // never told by content
    case FirmwareFormat::Unknown: break;
  }
  return CheckUnknown(replay, extras);
}

}  // namespace check_detail

FirmwareReport CheckFirmware(IFile& file) { return check_detail::CheckFirmware(file, nullptr); }


}  // namespace fennwick
