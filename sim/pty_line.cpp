#include "sim/pty_line.h"

#include <fcntl.h>
#include <limits.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace fennwick::sim {
namespace {

std::string ErrnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string OpenRawPty(PtyPair& pty) {
  if (::openpty(&pty.master, &pty.slave, nullptr, nullptr, nullptr) != 0) {
    return ErrnoText("cannot open a pseudo-terminal");
  }
  char name[PATH_MAX];
  if (::ttyname_r(pty.slave, name, sizeof name) != 0) return ErrnoText("cannot name the terminal");
  pty.slavePath = name;

  termios tio{};
  if (::tcgetattr(pty.slave, &tio) != 0) return ErrnoText("tcgetattr");
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, B19200);
  ::cfsetospeed(&tio, B19200);
  if (::tcsetattr(pty.slave, TCSANOW, &tio) != 0) return ErrnoText("tcsetattr");

  const int flags = ::fcntl(pty.master, F_GETFL);
  if (flags < 0 || ::fcntl(pty.master, F_SETFL, flags | O_NONBLOCK) != 0 ||
      ::fcntl(pty.master, F_SETFD, FD_CLOEXEC) != 0) {
    return ErrnoText("cannot set up the terminal master");
  }
  return {};
}

std::string CheckLinkPath(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    return "--link: " + path + " exists and is not a symbolic link; not replacing it";
  }
  return {};
}

std::string SymlinkGuard::Create(const std::string& path, const std::string& target) {
  if (auto problem = CheckLinkPath(path); !problem.empty()) return problem;
  // Made under a temporary name and renamed, so an existing link is replaced in one step.
  const std::string temp = path + ".tmp" + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(target.c_str(), temp.c_str()) != 0) return ErrnoText("cannot create link " + temp);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string problem = ErrnoText("cannot create link " + path);
    ::unlink(temp.c_str());
    return problem;
  }
  path_ = path;
  target_ = target;
  return {};
}

void SymlinkGuard::Remove() {
  if (path_.empty()) return;
  std::vector<char> buf(target_.size() + 2);
  const ssize_t n = ::readlink(path_.c_str(), buf.data(), buf.size());
  if (n >= 0 && std::string(buf.data(), static_cast<std::size_t>(n)) == target_) {
    ::unlink(path_.c_str());
  }
  path_.clear();
}

}  // namespace fennwick::sim
