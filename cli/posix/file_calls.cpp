#include "cli/records/file_calls.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fennwick {

int OpenForReading(const std::string& path) {
  return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

int OpenForAppending(const std::string& path) {
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
}

void LockWholeFile(int fd) { ::flock(fd, LOCK_EX); }

void UnlockWholeFile(int fd) { ::flock(fd, LOCK_UN); }

int SyncFile(int fd) { return ::fsync(fd); }

bool IsSocketMode(mode_t mode) { return S_ISSOCK(mode); }

}  // namespace fennwick
