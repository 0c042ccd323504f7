#pragma once
// The run record that a production line keeps: each port's whole log of one run, appended
// to one file with a time stamp and the port's name.
#include <string>

struct RunRecord {
  std::string startedUtc;  // ISO 8601
  std::string port;
  std::string command;     // e.g. "program fw.s19"
  std::string log;         // the log text, byte for byte
  std::string result;      // e.g. "ok", "IAP refused"
  int exitCode = 0;
  double seconds = 0;
};

std::string UtcNow();
// Appends and flushes the record; safe against other threads and processes writing the
// same file. False (with errno set) when the file cannot be written.
bool AppendRunRecord(const std::string& path, const RunRecord& record);
