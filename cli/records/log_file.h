#pragma once
// The run record that a production line keeps: each port's whole log of one run, appended
// to one file with a time stamp, the port's name and what identifies the unit and image.
// UTF-8 with LF; every value quoted (or "(none)"), every line of the device's log after "| ":
//   ===== 2026-12-07T12:00:00Z "/dev/ttyUSB0": "program fw.s19" =====
//   tool: "fennwick-cli 0.1.0"
//   station: "line-3"
//   unit: "SN-0001"
//   file: "/srv/fw/fw.s19"
//   image crc32: "0x1A2B3C4D"
//   mcu version: "FNW-107 ..."
//   | ========Current MCU Information========
//   | MCU: ....\c
//   ===== result: programmed (exit 0, 12.3 s) =====
// The README defines the escapes and "\c" (a last log line without a line end).
#include <memory>
#include <string>

#include "cli/records/run_record.h"

namespace fennwick {

// A record without its closing line, and that line.
std::string RecordBody(const RunRecord& record);
std::string RecordTail(const RunRecord& record);

// The time now as a record gives it: ISO 8601, UTC.
std::string UtcNow();

// The log file of one command, opened before any port is: a regular file, or a new one.
class RunLogFile {
 public:
  // Null, with the reason in `whyNot`, for anything else (a port, a FIFO, a directory, a
  // device) or a file that cannot be opened for appending.
  static std::unique_ptr<RunLogFile> Open(const std::string& path, std::string& whyNot);
  ~RunLogFile();
  RunLogFile(const RunLogFile&) = delete;
  RunLogFile& operator=(const RunLogFile&) = delete;

  // Appends and flushes the record; safe against other threads and processes writing the
  // same file. False, with the system's reason for the first failure, when it was not
  // written whole.
  bool Append(const RunRecord& record, std::string& whyNot);
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

 private:
  RunLogFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

}  // namespace fennwick
