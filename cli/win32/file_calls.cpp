#include "cli/records/file_calls.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

// The program runs with UTF-8 as its code page (see fennwick-cli.manifest), so the runtime's
// narrow calls take UTF-8 names.
namespace fennwick {

namespace {

// Every file the runtime opens is binary: a record's line ends are the log's own.
const int g_binary = (_fmode = _O_BINARY);

// Locks or unlocks the whole file against other processes.
void LockRange(int fd, bool lock) {
  (void)g_binary;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  if (h == INVALID_HANDLE_VALUE) return;
  OVERLAPPED whole{};
  if (lock) {
    ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
  } else {
    ::UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
  }
}

}  // namespace

// Files are not inherited (we start no programs); there is no controlling terminal to take,
// and a regular file never blocks.
int OpenForReading(const std::string& path) { return ::_open(path.c_str(), _O_RDONLY | _O_NOINHERIT); }

int OpenForAppending(const std::string& path) {
  return ::_open(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_NOINHERIT, 0644);
}

void LockWholeFile(int fd) { LockRange(fd, true); }

void UnlockWholeFile(int fd) { LockRange(fd, false); }

int SyncFile(int fd) { return ::_commit(fd); }

// The runtime's stat knows files, folders, character devices and pipes only.
bool IsSocketMode(mode_t) { return false; }

}  // namespace fennwick
