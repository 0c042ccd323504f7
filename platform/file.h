#pragma once
// Read-only file access for the firmware readers, with a real POSIX implementation and an
// in-memory fake for tests.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class IFile {
 public:
  virtual ~IFile() = default;
  // Length in bytes, or -1 when it cannot be told.
  virtual int64_t Length() = 0;
  // Bytes read (0 at the end), or -1 on a read error.
  virtual int64_t Read(uint8_t* buf, size_t n) = 0;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  // An existing file opened for reading; null when it cannot be opened.
  virtual std::unique_ptr<IFile> OpenRead(const std::u16string& path) = 0;
};

class PosixFileSystem final : public IFileSystem {
 public:
  std::unique_ptr<IFile> OpenRead(const std::u16string& path) override;
};

IFileSystem& DefaultFileSystem();

// Hands out a file's bytes one at a time from large reads, stopping after `limit` bytes
// (the length taken at the start) like the byte-per-call loops it replaces.
class ByteReader {
 public:
  static constexpr int kEnd = -1;
  static constexpr int kError = -2;
  ByteReader(IFile& file, int64_t limit) : file_(file), remaining_(limit < 0 ? 0 : limit) {}
  int Next() {
    if (pos_ == len_ && !Fill()) return failed_ ? kError : kEnd;
    return buf_[pos_++];
  }
  bool failed() const { return failed_; }

 private:
  bool Fill();
  IFile& file_;
  int64_t remaining_;
  uint8_t buf_[8192];
  size_t pos_ = 0;
  size_t len_ = 0;
  bool failed_ = false;
};
