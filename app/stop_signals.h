#pragma once
// How the window meets a stop from its service manager or its terminal (SIGINT, SIGTERM,
// SIGHUP), by the rules of platform/stop_request.h: the first is a request that the window's
// thread takes up, so that a programming run ends after the block in flight with its verdict
// in the log; a second one ends the process at once, the ports' settings put back first; both
// leave with kExitInterrupted. A
// signal that was ignored when the program started stays ignored.
#include <functional>

#include "platform/stop_request.h"

class QObject;

namespace fennwick {

// Call early in main, before any port is opened. False (errno set) when it cannot be done.
bool InstallStopSignals();

// `onStop` runs once, on the thread of `context` (the window's), when the first request has
// come, also when it came before this call. Nothing is called after `context` is destroyed.
void WatchStopSignals(QObject& context, std::function<void()> onStop);

}  // namespace fennwick
