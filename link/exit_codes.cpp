#include "link/exit_codes.h"

#include <array>

namespace fennwick {

namespace {

constexpr std::array<ExitCodeInfo, 16> kTable{{
    {kExitOk, "ok", "success"},
    {kExitFailure, "failed", "a failure not listed below"},
    {kExitUsage, "wrong-argument", "a wrong argument"},
    {kExitPort, "port-failed", "the port cannot be opened or set up"},
    {kExitSilent, "mcu-silent", "the MCU is silent (no reply to a query); nothing was flashed"},
    {kExitUnsuitable, "unsuitable", "the file does not suit the MCU"},
    {kExitNoDescription, "no-description", "the file has no description block"},
    {kExitFile, "file-unreadable", "the file is missing or unreadable"},
    {kExitRefused, "iap-refused", "the MCU refused IAP"},
    {kExitIncomplete, "incomplete",
     "the MCU refused blocks, block replies timed out or writes were short (or the run stopped after "
     "--max-timeouts in a row)"},
    {kExitPortLost, "port-lost", "the port was lost during the run or the identification"},
    {kExitFileProblems, "file-problems",
     "the file check found problems, a file cut short among them (a file without data, or a raw binary that "
     "does not fit the flash, is refused even with --force)"},
    {kExitMixed, "mixed", "several ports failed in different ways (when all failed the same way: that code)"},
    {kExitLogFile, "log-file-failed",
     "a run record could not be written to the log file or the system log, or the JSON document not whole"},
    {kExitInterrupted, "interrupted",
     "stopped by SIGINT, SIGTERM or SIGHUP after the current block (a second signal, or SIGQUIT, ends it at once)"},
    {kExitThread, "thread-failed", "a board's worker thread could not be started"},
}};

constexpr bool InOrder() {
  for (size_t i = 0; i < kTable.size(); ++i) {
    if (kTable[i].code != static_cast<int>(i)) return false;
  }
  return true;
}
static_assert(InOrder(), "the table is indexed by the code");

}  // namespace

ExitCode ExitCodeOf(JobEnd end) {
  switch (end) {
    case JobEnd::Identified:
    case JobEnd::Suitable:
    case JobEnd::Programmed:
    case JobEnd::Forced:
    case JobEnd::DryRun:
      return kExitOk;
    case JobEnd::OutOfMemory:
      return kExitFailure;
    case JobEnd::PortNotOpened:
    case JobEnd::PortNotSetUp:
    case JobEnd::PortNotOpen:
      return kExitPort;
    case JobEnd::Silent:
      return kExitSilent;
    case JobEnd::Unsuitable:
      return kExitUnsuitable;
    case JobEnd::NoDescription:
      return kExitNoDescription;
    case JobEnd::FileUnreadable:
      return kExitFile;
    case JobEnd::Refused:
      return kExitRefused;
    case JobEnd::Stalled:
    case JobEnd::Flawed:
      return kExitIncomplete;
    case JobEnd::LineLost:
      return kExitPortLost;
    case JobEnd::NoData:
      return kExitFileProblems;
    case JobEnd::Interrupted:
      return kExitInterrupted;
    case JobEnd::ThreadFailed:
      return kExitThread;
  }
  return kExitFailure;
}

std::span<const ExitCodeInfo> ExitCodes() { return kTable; }

const char* ResultWord(int exitCode) {
  if (exitCode < 0 || static_cast<size_t>(exitCode) >= kTable.size()) return kTable[kExitFailure].word;
  return kTable[static_cast<size_t>(exitCode)].word;
}

std::string ExitStatusHelp() {
  std::string text = "Exit status:\n";
  for (const ExitCodeInfo& entry : kTable) {
    const std::string code = std::to_string(entry.code);
    text += "  " + code + std::string(4 - code.size(), ' ') + entry.word + ": " + entry.help + "\n";
  }
  return text;
}

int CombinedExitCode(const std::vector<int>& codes) {
  int shared = kExitOk;
  for (const int code : codes) {
    if (code == kExitOk) continue;
    if (shared == kExitOk) {
      shared = code;
    } else if (shared != code) {
      return kExitMixed;
    }
  }
  return shared;
}

}  // namespace fennwick
