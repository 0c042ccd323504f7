#pragma once
// The few POSIX calls of the command line that mingw's C runtime lacks, for its Windows
// build (which includes this ahead of every file of it). The program runs with UTF-8 as its
// code page (see fennwick-cli.manifest), so the runtime's narrow calls take UTF-8 names.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

// Files are not inherited (we start no programs), there is no controlling terminal to take,
// and a regular file never blocks.
#define O_CLOEXEC _O_NOINHERIT
#define O_NOCTTY 0
#define O_NONBLOCK 0

#define LOCK_EX 2
#define LOCK_UN 8
// Locks or unlocks the whole file against other processes (LockFileEx); 0 or -1 with errno.
int flock(int fd, int operation);
inline int fsync(int fd) { return _commit(fd); }

// The runtime's stat knows files, folders, character devices and pipes only.
#ifndef S_ISSOCK
#define S_ISSOCK(mode) 0
#endif
#ifndef S_ISLNK
#define S_ISLNK(mode) 0
#endif
