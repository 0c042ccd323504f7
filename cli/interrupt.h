#pragma once

namespace fennwick {
// How fennwick-cli meets its shell: closed standard descriptors, a reader that goes away,
// a file size limit, and SIGINT or SIGTERM during a run.

// Call first in main: opens /dev/null on closed standard descriptors, ignores SIGPIPE and
// SIGXFSZ (a failed write is reported where it happens), and makes the first SIGINT or
// SIGTERM a request to stop (StopRequested) and the second an immediate exit with
// kExitInterrupted. False when the process cannot be set up.
bool PrepareProcess();

// True once SIGINT or SIGTERM has come.
bool StopRequested();
// Tests: as if a signal had come, or none.
void RequestStop(bool stop = true);

}  // namespace fennwick
