#pragma once
// In-memory files, with a read error that can be set at an offset and a length that can
// differ from what there is to read (a file that shrank or grew, or one of unknown length).
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/file.h"

namespace fennwick {

class MemoryFile final : public IFile {
 public:
  MemoryFile(std::string data, int64_t failAt, std::optional<int64_t> length = std::nullopt)
      : data_(std::move(data)), failAt_(failAt), length_(length) {}
  int64_t Length() override { return length_.value_or(static_cast<int64_t>(data_.size())); }
  int64_t Read(uint8_t* buf, size_t n) override;
  int LastErrno() const override { return failed_ ? EIO : 0; }

 private:
  std::string data_;
  int64_t failAt_;
  std::optional<int64_t> length_;
  size_t pos_ = 0;
  bool failed_ = false;
};

class MemoryFileSystem final : public IFileSystem {
 public:
  void Add(const std::u16string& path, std::string data, int64_t failAt = -1) {
    files_[path] = {std::move(data), failAt};
  }
  void Remove(const std::u16string& path) { files_.erase(path); }
  int opens = 0;

 protected:
  std::unique_ptr<IFile> Open(const std::u16string& path, int& error) override {
    auto it = files_.find(path);
    if (it == files_.end()) {
      error = ENOENT;
      return nullptr;
    }
    ++opens;
    return std::make_unique<MemoryFile>(it->second.first, it->second.second);
  }

 private:
  std::map<std::u16string, std::pair<std::string, int64_t>> files_;
};

}  // namespace fennwick
