#pragma once
// What the command line finds differently on each system: one source file per system,
// chosen by the build (cli/posix/host.cpp, cli/win32/host.cpp).
#include <string>
#include <vector>

namespace fennwick {

// The configuration files read when --config is not given: the user's, then the site's.
std::vector<std::string> DefaultConfigPaths();

// Whether the environment's locale (LC_ALL, else LC_CTYPE, else LANG) writes UTF-8; always on
// Windows, whose program and console run in UTF-8.
bool LocaleIsUtf8();

// Whether the descriptor is a terminal that takes the progress display's control sequences
// (elsewhere progress goes out as plain lines).
bool IsProgressTerminal(int fd);

// Whether --syslog has a system log to write to.
bool SystemLogAvailable();

// Waits until standard input has something to read (bytes, or its end) or a stop is
// requested (StopRequested): false then, at once or within a moment, so that a producer
// that stalls cannot hold a stop off.
bool WaitForStandardInput();

}  // namespace fennwick
