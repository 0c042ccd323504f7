#pragma once
#include <cstdint>
#include <string>

#include "platform/stop_request.h"

namespace fennwick {
// How fennwick-cli meets its shell: closed standard descriptors, a reader that goes away,
// a file size limit, and stop signals during a run.

// Call first in main: opens /dev/null on closed standard descriptors, ignores SIGPIPE and
// SIGXFSZ (a failed write is reported where it happens), and takes stop requests
// (platform/stop_request.h): a stop at once appends each run's prepared record, gives the
// ports their settings back and exits with kExitInterrupted. False when the process cannot
// be set up.
bool PrepareProcess();

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
