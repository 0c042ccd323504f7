#pragma once
// The file calls of the command line that each system makes in its own way (cli/posix/,
// cli/win32/). Descriptors are the C runtime's; failures are -1 with errno.
#include <sys/types.h>

#include <string>

namespace fennwick {

// Opens for reading: never waits for a FIFO's writer, never takes a controlling terminal,
// and is not inherited.
int OpenForReading(const std::string& path);
// Opens for appending, creating the file (0644) where it is missing; likewise never waits,
// takes no terminal and is not inherited.
int OpenForAppending(const std::string& path);

// Holds the whole file against the other processes that lock it, until UnlockWholeFile.
void LockWholeFile(int fd);
void UnlockWholeFile(int fd);
// Puts what was written on the disk: 0, or -1 with errno.
int SyncFile(int fd);

// Whether a file's mode is a socket's (none on a system whose files have no such kind).
bool IsSocketMode(mode_t mode);

}  // namespace fennwick
