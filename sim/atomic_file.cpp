#include "sim/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace fennwick::sim {
namespace {

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Creates "<dir>/.<name>.XXXXXX" and returns its fd, filling `tempPath`.
int MakeTemp(const std::string& path, std::string& tempPath) {
  const std::filesystem::path target(path);
  std::filesystem::path dir = target.parent_path();
  if (dir.empty()) dir = ".";
  // Built up by appends: gcc 12 warns falsely (-Wrestrict) on "." + std::string at -O3.
  std::string leaf = ".";
  leaf += target.filename().string();
  leaf += ".XXXXXX";
  tempPath = (dir / leaf).string();
  std::vector<char> name(tempPath.begin(), tempPath.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  tempPath.assign(name.data());
  return fd;
}

}  // namespace

std::string CheckWritableBeside(const std::string& path) {
  if (path.empty()) return "empty file name";
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path + " is a directory";
  std::string temp;
  const int fd = MakeTemp(path, temp);
  if (fd < 0) return ErrnoText("cannot create a file beside " + path);
  ::close(fd);
  ::unlink(temp.c_str());
  return {};
}

std::string WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> data) {
  std::string temp;
  const int fd = MakeTemp(path, temp);
  if (fd < 0) return ErrnoText("cannot create a file beside " + path);
  std::string failure;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      failure = ErrnoText("cannot write " + temp);
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  // mkstemp makes the file private; a dump is an ordinary output file.
  if (failure.empty() && ::fchmod(fd, 0644) != 0) failure = ErrnoText("cannot chmod " + temp);
  if (failure.empty() && ::fsync(fd) != 0) failure = ErrnoText("cannot sync " + temp);
  if (::close(fd) != 0 && failure.empty()) failure = ErrnoText("cannot close " + temp);
  if (failure.empty() && ::rename(temp.c_str(), path.c_str()) != 0) {
    failure = ErrnoText("cannot rename " + temp + " to " + path);
  }
  if (!failure.empty()) ::unlink(temp.c_str());
  return failure;
}

}  // namespace fennwick::sim
