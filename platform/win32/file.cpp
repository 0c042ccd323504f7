#include "platform/file.h"

#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/text.h"

namespace fennwick {

namespace {

int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    default:
      return EIO;
  }
}

class Win32File final : public IFile {
 public:
  explicit Win32File(HANDLE h) : h_(h) {}
  ~Win32File() override { ::CloseHandle(h_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  int64_t Length() override {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(h_, &size)) {
      errno_ = ErrnoOf(::GetLastError());
      return -1;
    }
    return size.QuadPart;
  }
  int64_t Read(uint8_t* buf, size_t n) override {
    const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    DWORD got = 0;
    if (!::ReadFile(h_, buf, want, &got, nullptr)) {
      errno_ = ErrnoOf(::GetLastError());
      return -1;
    }
    return got;
  }
  int LastErrno() const override { return errno_; }

 private:
  HANDLE h_;
  int errno_ = 0;
};

// Opens a regular file for reading; a directory, a device or a pipe is refused (it has no
// length to read by, and a pipe could block). On failure `error` holds an errno value.
HANDLE OpenRegular(const std::u16string& path, std::string& whyNot, int& error) {
  const auto* wide = reinterpret_cast<const wchar_t*>(path.c_str());
  const DWORD attributes = ::GetFileAttributesW(wide);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    error = EISDIR;
    whyNot = "is a directory";
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = ::CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = ErrnoOf(::GetLastError());
    whyNot = std::strerror(error);
    return INVALID_HANDLE_VALUE;
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    error = EINVAL;
    whyNot = "is not a regular file (a device)";
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace

std::unique_ptr<IFile> SystemFileSystem::Open(const std::u16string& path, int& error) {
  std::string utf8;
  // The name must be whole UTF-16: a lone surrogate names no file that we could report.
  if (path.empty() || !Utf16ToUtf8(path, utf8)) {
    error = path.empty() ? ENOENT : EILSEQ;
    return nullptr;
  }
  std::string whyNot;
  HANDLE h = OpenRegular(path, whyNot, error);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32File>(h);
}

bool ReadRegularFile(const std::string& path, size_t limit, std::string& bytes, std::string& whyNot) {
  std::u16string wide;
  if (path.empty() || !Utf8ToUtf16(path, wide)) {
    whyNot = std::strerror(path.empty() ? ENOENT : EILSEQ);
    return false;
  }
  int error = 0;
  HANDLE h = OpenRegular(wide, whyNot, error);
  if (h == INVALID_HANDLE_VALUE) return false;
  Win32File file(h);
  return ReadUntilEnd(file, limit, bytes, whyNot);
}

IFileSystem& DefaultFileSystem() {
  static SystemFileSystem fs;
  return fs;
}

}  // namespace fennwick
