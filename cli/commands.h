#pragma once
// The command line's verbs, apart from option parsing so that tests can call them.
#include <cstdio>
#include <optional>
#include <string>

// Exit codes, stable for scripts.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,       // anything not listed below
  kExitUsage = 2,         // a wrong argument
  kExitPort = 3,          // the port cannot be opened or set up
  kExitSilent = 4,        // the MCU did not answer a query
  kExitUnsuitable = 5,    // examine: the file does not suit the MCU
  kExitNoDescription = 6, // examine: the file has no description block
  kExitFile = 7,          // the file is missing or unreadable
  kExitRefused = 8,       // program: the MCU refused IAP
  kExitIncomplete = 9,    // program: block replies timed out or writes were short
  kExitPortLost = 10,     // program: the port vanished during the run
};

struct CliContext {
  std::optional<std::string> port;  // --port, else FENNWICK_PORT, else COM2: mapped
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool progressBar = false;         // stderr is a terminal
  bool sameScreen = false;          // stdout is that terminal too
  // Benchmark aid: an empty poll sleeps its full 100 ms instead of waking when bytes come.
  bool plainPoll = false;
};

int RunIdentify(const CliContext& ctx);
int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion);
int RunProgram(const CliContext& ctx, const std::string& file);
