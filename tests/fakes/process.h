#pragma once
// Runs the project's programs for end-to-end tests: a command to completion with its output,
// or a simulator in the background.
#include <string>
#include <vector>

#include "fakes/temp_dir.h"  // the runs' scratch folders and ReadFile

namespace fennwick {

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs argv to its end (killed after timeoutSec) and collects stdout and stderr.
RunResult RunProgram(const std::vector<std::string>& argv, int timeoutSec = 60);

// A simulator started in the background; its first stdout line is its pty path.
class Simulator {
 public:
  explicit Simulator(std::vector<std::string> args);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;
  const std::string& path() const { return path_; }
  // Waits up to timeoutMs for `text` on its stderr (where --verbose tells what it receives),
  // so that a test acts at a point of the exchange rather than after a guessed time.
  bool WaitForErr(const std::string& text, int timeoutMs);
  // Stops it (SIGTERM) and returns its exit code and what it wrote to stderr.
  int Stop(std::string* err = nullptr);

 private:
  int pid_ = -1;
  int errFd_ = -1;
  std::string path_;
  std::string err_;  // read by WaitForErr, kept for Stop
};

std::string BinPath(const std::string& name);
std::string SamplePath(const std::string& name);
// Waits up to timeoutMs for a file to exist with the given size.
bool WaitForFile(const std::string& path, long size, int timeoutMs);

}  // namespace fennwick
