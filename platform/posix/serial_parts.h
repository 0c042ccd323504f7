#pragma once
// The parts of the POSIX serial device, each in a file of its own.
#include <termios.h>

#include <cstdint>
#include <string>

#include "platform/serial_device.h"

namespace fennwick::posix {

// The termios speed of a rate in bits per second, and back (0 for a speed not in the table).
bool BaudCode(uint32_t rate, speed_t& code);
uint32_t BaudRate(speed_t code);

// A USB adapter holds what it receives for its latency timer (16 ms by default) before it
// passes it on, which costs every one-byte block reply that long. Returns whether the flag
// was switched on here, so that the close switches it off again; drivers without it (a
// pseudo-terminal) refuse the request, and the port works as before.
bool AskLowLatency(int fd);
// Only system calls: also runs in a signal handler.
void DropLowLatency(int fd);

// A port that is also our standard input, output or error would take the log and the
// progress display as bytes for the MCU, between the blocks.
bool IsStandardStream(int fd);

// The exclusive-use flag stays on the terminal after the close: a pseudo-terminal would
// tell the next user's run that it is busy. Only a system call.
void Unclaim(int fd);

// The settings that RestoreOpenPortsNow puts back on an open line.
void RememberLine(int fd, const termios& settings, bool lowLatencySet);
void ForgetLine(int fd);

// Opens and claims the line at `path` and makes it raw; `original` receives the settings
// found there. On failure `errnoValue` holds the errno value behind it, 0 when none.
int OpenLine(const std::string& path, termios& original, bool& lowLatencySet, OpenError& error, int& errnoValue);

}  // namespace fennwick::posix
