#pragma once
// Read-only file access for the firmware readers, with a real POSIX implementation and an
// in-memory fake for tests.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace fennwick {

class IFile {
 public:
  virtual ~IFile() = default;
  // Length in bytes, or -1 when it cannot be told.
  virtual int64_t Length() = 0;
  // Bytes read (0 at the end), or -1 on a read error.
  virtual int64_t Read(uint8_t* buf, size_t n) = 0;
  // The errno value of the last Length or Read that failed; 0 when none did.
  virtual int LastErrno() const { return 0; }
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  // An existing file opened for reading; null when it cannot be opened.
  std::unique_ptr<IFile> OpenRead(const std::u16string& path) {
    int error = 0;
    return Open(path, error);
  }
  // The same, with the errno value that says why it could not be opened in `error` (0 when
  // it opened).
  std::unique_ptr<IFile> OpenRead(const std::u16string& path, int& error) {
    error = 0;
    return Open(path, error);
  }

 protected:
  virtual std::unique_ptr<IFile> Open(const std::u16string& path, int& error) = 0;
};

// Files of the system that this build is for (on Windows through the wide-character API,
// so that any name opens).
class SystemFileSystem final : public IFileSystem {
 protected:
  std::unique_ptr<IFile> Open(const std::u16string& path, int& error) override;
};

IFileSystem& DefaultFileSystem();

// A file's bytes held in memory, shared by every reader opened on them.
class BytesFile final : public IFile {
 public:
  explicit BytesFile(std::shared_ptr<const std::string> bytes) : bytes_(std::move(bytes)) {}
  int64_t Length() override { return static_cast<int64_t>(bytes_->size()); }
  int64_t Read(uint8_t* buf, size_t n) override;

 private:
  std::shared_ptr<const std::string> bytes_;
  size_t pos_ = 0;
};

// Reads a regular file whole, at most `limit` bytes. Anything else (a directory, a FIFO, a
// device) is refused without blocking. False with a reason a person can act on in
// `whyNot` ("is a directory", "No such file or directory", ...).
bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes, std::string& whyNot);

// The bytes of a file (opened, not yet read), as many as its length told at the start;
// fewer if it shrank meanwhile. Returns 0, or the errno value of the failure: its length
// or a read failed (`bytes` then holds what came before), or it is longer than `limit`
// (EFBIG, nothing read).
int ReadFileBytes(IFile& file, size_t limit, std::string& bytes);

// Reads an open file until its end, whatever length it told (a pipe tells none): false with
// `whyNot` when a read fails or more than `limit` bytes come.
bool ReadUntilEnd(IFile& file, size_t limit, std::string& bytes, std::string& whyNot);

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

}  // namespace fennwick
