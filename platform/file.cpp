#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/text.h"

namespace {

class PosixFile final : public IFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  int64_t Length() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
  }
  int64_t Read(uint8_t* buf, size_t n) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buf, n);
      if (got >= 0) return got;
      if (errno != EINTR) return -1;
    }
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<IFile> PosixFileSystem::OpenRead(const std::u16string& path) {
  std::string native;
  if (path.empty() || !Utf16ToUtf8(path, native)) return nullptr;
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFile>(fd);
}

IFileSystem& DefaultFileSystem() {
  static PosixFileSystem fs;
  return fs;
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
