#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/text.h"

namespace fennwick {

namespace {

class PosixFile final : public IFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  int64_t Length() override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      errno_ = errno;
      return -1;
    }
    return static_cast<int64_t>(st.st_size);
  }
  int64_t Read(uint8_t* buf, size_t n) override {
    for (;;) {
      const ssize_t got = ::read(fd_, buf, n);
      if (got >= 0) return got;
      if (errno != EINTR) {
        errno_ = errno;
        return -1;
      }
    }
  }
  int LastErrno() const override { return errno_; }

 private:
  int fd_;
  int errno_ = 0;
};

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "is a directory";
  if (S_ISFIFO(mode)) return "is not a regular file (a FIFO)";
  if (S_ISSOCK(mode)) return "is not a regular file (a socket)";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is not a regular file (a device)";
  return "is not a regular file";
}

// Opens a regular file for reading. A FIFO would block the open until a writer comes, and
// a device or a FIFO has no length to read by: both are refused, without waiting. On
// failure `error` holds an errno value: EISDIR or EINVAL for what is not a regular file.
int OpenRegular(const std::string& path, std::string& whyNot, int& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = errno;
    whyNot = std::strerror(error);
    return -1;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    error = errno;
    whyNot = std::strerror(error);
  } else if (!S_ISREG(st.st_mode)) {
    error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    whyNot = KindOf(st.st_mode);
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

}  // namespace

std::unique_ptr<IFile> SystemFileSystem::Open(const std::u16string& path, int& error) {
  std::string native;
  if (path.empty() || !Utf16ToUtf8(path, native)) {
    error = path.empty() ? ENOENT : EILSEQ;
    return nullptr;
  }
  std::string whyNot;
  const int fd = OpenRegular(native, whyNot, error);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixFile>(fd);
}

bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes, std::string& whyNot) {
  int error = 0;
  const int fd = OpenRegular(path, whyNot, error);
  if (fd < 0) return false;
  PosixFile file(fd);
  return ReadUntilEnd(file, limit, bytes, whyNot);
}

IFileSystem& DefaultFileSystem() {
  static SystemFileSystem fs;
  return fs;
}

}  // namespace fennwick
