#pragma once
// Between the shared at-once records and each system's stop handler.
#include <cstddef>
#include <cstdint>

#include "platform/stop_request.h"

namespace fennwick {

// Appends each armed run's prepared record with its closing line; safe in a stop handler.
void AppendPreparedRecords();

// The command line's stop: its notices, and a stop at once that appends the prepared
// records and puts the ports' settings back before it exits with kExitInterrupted.
StopRules CommandLineStopRules();

// Each system's own: a monotonic clock in milliseconds and one unbuffered write, both safe
// in its stop handler.
int64_t MonotonicMs();
void WriteWhole(int fd, const char* text, size_t size);

}  // namespace fennwick
