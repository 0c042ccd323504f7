// The file readers that every system shares.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/file.h"

namespace fennwick {

int64_t BytesFile::Read(uint8_t* buf, size_t n) {
  const size_t k = std::min(n, bytes_->size() - pos_);
  std::memcpy(buf, bytes_->data() + pos_, k);
  pos_ += k;
  return static_cast<int64_t>(k);
}

bool ByteReader::Fill() {
  if (failed_ || remaining_ <= 0) return false;
  const size_t want = remaining_ < static_cast<int64_t>(sizeof buf_) ? static_cast<size_t>(remaining_)
                                                                      : sizeof buf_;
  const int64_t got = file_.Read(buf_, want);
  if (got < 0) {
    failed_ = true;
    return false;
  }
  if (got == 0) {
    // The file shrank under us: what is left of the announced length never comes.
    remaining_ = 0;
    return false;
  }
  remaining_ -= got;
  pos_ = 0;
  len_ = static_cast<size_t>(got);
  return true;
}

int ReadFileBytes(IFile& file, size_t limit, std::string& bytes) {
  bytes.clear();
  const int64_t length = file.Length();
  if (length < 0) return file.LastErrno() != 0 ? file.LastErrno() : EIO;
  if (static_cast<uint64_t>(length) > limit) return EFBIG;
  bytes.reserve(static_cast<size_t>(length));
  ByteReader reader(file, length);
  for (int c = reader.Next(); c >= 0; c = reader.Next()) bytes.push_back(static_cast<char>(c));
  if (!reader.failed()) return 0;
  return file.LastErrno() != 0 ? file.LastErrno() : EIO;
}

bool ReadUntilEnd(IFile& file, size_t limit, std::string& bytes, std::string& whyNot) {
  bytes.clear();
  uint8_t chunk[65536];
  for (;;) {
    const int64_t got = file.Read(chunk, sizeof chunk);
    if (got < 0) {
      whyNot = std::string("read error: ") + std::strerror(file.LastErrno());
      return false;
    }
    if (got == 0) return true;
    if (bytes.size() + static_cast<size_t>(got) > limit) {
      whyNot = "is larger than " + std::to_string(limit) + " bytes, too large for a firmware file";
      return false;
    }
    bytes.append(reinterpret_cast<const char*>(chunk), static_cast<size_t>(got));
  }
}

}  // namespace fennwick
