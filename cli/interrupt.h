#pragma once
#include <cstdint>
#include <string>

namespace fennwick {
// How fennwick-cli meets its shell: closed standard descriptors, a reader that goes away,
// a file size limit, and stop signals during a run.

// Call first in main: opens /dev/null on closed standard descriptors, ignores SIGPIPE and
// SIGXFSZ (a failed write is reported where it happens), and makes the first SIGINT,
// SIGTERM or SIGHUP a request to stop (StopRequested). The same signal again within
// kSameRequestMs is the same request (`timeout` sends its signal to the program and to its
// process group); any later one, and SIGQUIT at any time, stops at once: each run's
// prepared record is appended, the ports get their settings back and the program exits
// with kExitInterrupted. False when the process cannot be set up.
bool PrepareProcess();
constexpr int64_t kSameRequestMs = 200;

// True once a stop has been requested.
bool StopRequested();
// Tests: as if a signal had come, or none.
void RequestStop(bool stop = true);

// The record that a stop at once appends for one run still going: armed while the run
// goes, kept up to date by the run's thread, written by the signal handler in one write
// with a closing line "===== result: interrupted at once (exit 14, S s) =====".
class AtOnceRecord {
 public:
  // `fd`: the log file's, open for appending. The duration counts from now.
  explicit AtOnceRecord(int fd);
  ~AtOnceRecord();
  AtOnceRecord(const AtOnceRecord&) = delete;
  AtOnceRecord& operator=(const AtOnceRecord&) = delete;

  // The record without its closing line, as it would be written now.
  void Update(const std::string& body);
  // The run's own record is written: nothing more to append for it.
  void Disarm();

 private:
  struct Slot* slot_;
};

}  // namespace fennwick
