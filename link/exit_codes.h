#pragma once
// The exit codes of both front ends: stable for scripts, one table for fennwick-cli's --help,
// the JSON `result` words, the records and the window's exit status.
#include <span>
#include <string>
#include <vector>

namespace fennwick {

enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,
  kExitUsage = 2,
  kExitPort = 3,
  kExitSilent = 4,
  kExitUnsuitable = 5,
  kExitNoDescription = 6,
  kExitFile = 7,
  kExitRefused = 8,
  kExitIncomplete = 9,
  kExitPortLost = 10,
  kExitFileProblems = 11,
  kExitMixed = 12,
  kExitLogFile = 13,
  kExitInterrupted = 14,
  kExitThread = 15,
};

struct ExitCodeInfo {
  ExitCode code;
  const char* word;  // the JSON document's and the records' `result`
  const char* help;  // one line of --help
};

// How a job on one board ended: the identification's, the examination's and the
// programming run's cases, and the command line's own. Each maps to one exit code.
enum class JobEnd {
  // The identification
  PortNotOpened,
  PortNotSetUp,
  Silent,
  Identified,
  // The examination
  FileUnreadable,
  NoDescription,
  Unsuitable,
  Suitable,
  // The programming run
  NoData,
  PortNotOpen,
  Refused,
  Stalled,
  Flawed,
  Programmed,
  // Any of them
  LineLost,
  Interrupted,
  OutOfMemory,
  // Programming past a refusal (--force), stopping short of it (--dry-run), a worker thread
  // that never started
  Forced,
  DryRun,
  ThreadFailed,
};

ExitCode ExitCodeOf(JobEnd end);

// Every code, in ascending order.
std::span<const ExitCodeInfo> ExitCodes();

// The word for an exit code, as the JSON document and the records give a port's result;
// "failed" for a code not in the table.
const char* ResultWord(int exitCode);
// The --help paragraph: a heading line "Exit status:", then one line per code.
std::string ExitStatusHelp();
// Several ports' codes as one: 0 when all succeeded, the shared code when every failed port
// failed the same way, kExitMixed otherwise.
int CombinedExitCode(const std::vector<int>& codes);

}  // namespace fennwick
