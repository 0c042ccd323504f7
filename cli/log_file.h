#pragma once
// The run record that a production line keeps: each port's whole log of one run, appended
// to one file with a time stamp and the port's name.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct RunRecord {
  std::string startedUtc;  // ISO 8601
  std::string port;
  std::string command;     // e.g. "program fw.s19"
  std::string log;         // the log text, byte for byte
  std::string result;      // e.g. "ok", "IAP refused"
  int exitCode = 0;
  double seconds = 0;
  std::optional<uint32_t> imageCrc32;  // program: the CRC-32 of the image flashed
};

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

 private:
  RunLogFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};
