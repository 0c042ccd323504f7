#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/serial_parts.h"

namespace fennwick::posix {

bool IsStandardStream(int fd) {
  struct stat port {};
  if (::fstat(fd, &port) != 0 || !S_ISCHR(port.st_mode)) return false;
  for (int std = 0; std <= 2; ++std) {
    struct stat s {};
    if (::fstat(std, &s) == 0 && S_ISCHR(s.st_mode) && s.st_rdev == port.st_rdev) return true;
  }
  return false;
}

void Unclaim(int fd) { ::ioctl(fd, TIOCNXCL); }

int OpenLine(const std::string& path, termios& original, bool& lowLatencySet, OpenError& error, int& errnoValue) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    errnoValue = errno;
    switch (errnoValue) {
      case ENOENT:
      case ENODEV:
      case ENXIO:
      case ENOTDIR:
        error = OpenError::NoSuchDevice;
        break;
      case EACCES:
      case EPERM:
        error = OpenError::PermissionDenied;
        break;
      case EBUSY:
        error = OpenError::Busy;
        break;
      default:
        error = OpenError::Other;
    }
    return kInvalidHandle;
  }
  termios tio{};
  if (!::isatty(fd) || ::tcgetattr(fd, &tio) != 0) {
    errnoValue = errno;
    ::close(fd);
    error = OpenError::NotSerial;
    return kInvalidHandle;
  }
  // Our own terminal (/dev/tty or its real name) is where the person typing sits: the
  // queries would go to their screen and the line settings stay with their shell.
  if (pid_t session = 0; ::ioctl(fd, TIOCGSID, &session) == 0 && session == ::getsid(0)) {
    ::close(fd);
    error = OpenError::ControllingTerminal;
    return kInvalidHandle;
  }
  if (IsStandardStream(fd)) {
    ::close(fd);
    error = OpenError::StandardStream;
    return kInvalidHandle;
  }
  original = tio;
  // The advisory lock holds against root too, where TIOCEXCL does not.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    errnoValue = errno;
    ::close(fd);
    error = OpenError::Busy;
    return kInvalidHandle;
  }
  ::ioctl(fd, TIOCEXCL);
  // Raw 8-bit line: no echo, no CR/LF translation, no software or hardware flow control,
  // and reads that return at once with what has arrived.
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, B19200);
  ::cfsetospeed(&tio, B19200);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    errnoValue = errno;
    Unclaim(fd);
    ::close(fd);
    error = OpenError::NotSerial;
    return kInvalidHandle;
  }
  lowLatencySet = AskLowLatency(fd);
  return fd;
}

}  // namespace fennwick::posix
