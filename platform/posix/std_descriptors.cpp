#include "platform/std_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace fennwick {

bool EnsureStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is the one that is closed, as the lower ones are open.
    const int null = ::open("/dev/null", O_RDWR);
    if (null < 0) return false;
    if (null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
  return true;
}

}  // namespace fennwick
