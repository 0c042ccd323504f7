#include <windows.h>

#include <cerrno>
#include <cstdlib>

#include "cli/win32/posix_shim.h"

namespace {

// Every file the runtime opens is binary: a record's line ends are the log's own.
const int g_binary = (_fmode = _O_BINARY);

}  // namespace

int flock(int fd, int operation) {
  (void)g_binary;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) {
    errno = EBADF;
    return -1;
  }
  OVERLAPPED whole{};
  const BOOL ok = operation == LOCK_UN ? ::UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole)
                                       : ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
  if (!ok) {
    errno = EIO;
    return -1;
  }
  return 0;
}
