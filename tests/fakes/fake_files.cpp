#include "fakes/fake_files.h"

#include <algorithm>
#include <cstring>

namespace fennwick {

int64_t MemoryFile::Read(uint8_t* buf, size_t n) {
  if (failAt_ >= 0 && static_cast<int64_t>(pos_) >= failAt_) {
    failed_ = true;
    return -1;
  }
  size_t take = std::min(n, data_.size() - pos_);
  if (failAt_ >= 0) take = std::min(take, static_cast<size_t>(failAt_) - pos_);
  std::memcpy(buf, data_.data() + pos_, take);
  pos_ += take;
  return static_cast<int64_t>(take);
}

}  // namespace fennwick
