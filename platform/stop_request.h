#pragma once
// Stop requests from outside (Ctrl+C, a service manager's SIGTERM, a hang-up; on Windows the
// console's Ctrl+C, Ctrl+Break and close), one set of rules for every front end: the first is
// a request that the program takes up where it can (StopRequested); the same signal again
// within kSameStopRequestMs is that same request (`timeout` signals the program and then its
// group; a session passes on what it got); any later one, and a quit (SIGQUIT) at any time,
// stops at once: the front end's hook runs, then the process ends.
#include <cstdint>

namespace fennwick {

constexpr int64_t kSameStopRequestMs = 200;

struct StopRules {
  // Written to standard error as they happen; none: nothing is written, and without a quit
  // notice a quit keeps the system's own meaning.
  const char* firstNotice = nullptr;
  const char* againNotice = nullptr;
  const char* quitNotice = nullptr;
  // Runs in a signal handler (or the system's console thread) before the process ends with
  // `exitCode`: it takes no lock and allocates nothing. Only one stop at once runs it.
  void (*atOnce)() = nullptr;
  int exitCode = 1;
  // A stop signal that was ignored when the program started stays ignored (nohup, a shell's
  // background job). False: interrupt and terminate are taken all the same, so that a script
  // can still stop its background run; hang-up and quit stay ignored.
  bool keepIgnored = true;
};

// Call early, before any port is opened. `rules` are kept. False (errno set) when the
// handlers or the wake-up descriptor cannot be set up.
bool InstallStopRequests(const StopRules& rules);

// True once a stop has been requested; any thread may ask.
bool StopRequested();
// Tests: as if a request had come, or none.
void RequestStop(bool stop = true);

// Readable once the first request has come, for an event loop to watch; -1 where the system
// has none. DrainStopWake empties it.
int StopWakeDescriptor();
void DrainStopWake();

}  // namespace fennwick
