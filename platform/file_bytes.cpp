// The file readers that every system shares.
#include <algorithm>
#include <cstring>

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

}  // namespace fennwick
