#pragma once
// The command line's verbs, apart from option parsing so that tests can call them.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "firmware/firmware_file.h"
#include "link/protocol.h"
#include "platform/posix_serial.h"

namespace fennwick {

class RunLogFile;

// Exit codes, stable for scripts.
enum ExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,        // anything not listed below
  kExitUsage = 2,          // a wrong argument
  kExitPort = 3,           // the port cannot be opened or set up
  kExitSilent = 4,         // the MCU did not answer a query or the IAP request
  kExitUnsuitable = 5,     // examine: the file does not suit the MCU
  kExitNoDescription = 6,  // examine: the file has no description block
  kExitFile = 7,           // the file is missing or unreadable
  kExitRefused = 8,        // program: the MCU refused IAP
  kExitIncomplete = 9,     // program: block replies timed out (too many in a row end the run) or writes short
  kExitPortLost = 10,      // the port vanished during the run or the identification
  kExitFileProblems = 11,  // check (and program without --force): the file has problems
  kExitMixed = 12,         // several ports failed, not all in the same way
  kExitLogFile = 13,       // a run record could not be written to the log file
  kExitInterrupted = 14,   // SIGINT or SIGTERM stopped the run
  kExitThread = 15,        // a board's worker thread could not be started
};

// Stands a device of the caller's between a board's port object and its serial line (a
// benchmark's way of polling); the board owns what it returns.
using SerialWrap = std::function<std::unique_ptr<ISerialDevice>(ISerialDevice& line)>;

// How a file is to be read: --format (Unknown: by content, or binary for *.bin) and, for a
// raw binary, the MCU address of its first byte (--base).
struct FileOptions {
  FirmwareFormat format = FirmwareFormat::Unknown;
  uint32_t base = kFlashBase;
};

struct CliContext {
  std::vector<std::string> ports;  // --port, each its own board; none: COM2: (or FENNWICK_PORT)
  // FENNWICK_PORT as the context was made (possibly empty); it stands in for a --port not given.
  std::optional<std::string> environmentPort = PortFromEnvironment();
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  bool progressBar = false;  // stderr is a terminal
  bool sameScreen = false;   // stdout is that terminal too
  SerialWrap wrapSerial;  // empty: the boards' port objects use their lines directly
  std::string logFile;       // --log-file: appended with each port's run
  uint32_t blockTimeoutMs = kBlockTimeoutMs;  // --block-timeout: silence allowed per block reply
  uint32_t maxTimeouts = kMaxConsecutiveTimeouts;  // --max-timeouts: block time-outs in a row that end a run; 0 never
  std::shared_ptr<RunLogFile> log;  // that file, opened by OpenLogFile before any port
  // Starts a board's thread; tests replace it to see a thread that cannot be started.
  std::function<std::thread(std::function<void()>)> startThread;
  bool json = false;         // --json: one JSON document on stdout instead of the log text
  bool syslog = false;       // --syslog: one summary line per port to the system log
  std::string station;       // --station: the line's name for this PC, in every record
  std::vector<std::string> units;  // --unit, one per port in order: the boards' serial numbers
  FileOptions file;          // --format, --base

  // The one board's port override: the first --port, else FENNWICK_PORT, else none (COM2:).
  std::optional<std::string> FirstPort() const { return ports.empty() ? environmentPort : ports.front(); }
};

// Checks that the parser cannot make, run after parsing and before anything touches a
// port. Each prints its message on ctx.err and returns kExitOk or the exit code.
// No --port given empty, no port given twice (also under another name).
int ValidatePorts(const CliContext& ctx);
// Opens --log-file, if given, into ctx.log: a regular file or a new one.
int OpenLogFile(CliContext& ctx);
// examine --offline compares with a version given by hand, so it needs one.
int ValidateOfflineExamine(const CliContext& ctx, bool offline, bool versionGiven);

// The flash window as the messages give it: "0x8000 to 0x27FFF".
std::string FlashWindowText();

// The word for an exit code, as the JSON document and the records give a port's result.
const char* ResultWord(int exitCode);
// Several ports' codes as one: 0 when all succeeded, the shared code when every failed port
// failed the same way, kExitMixed otherwise.
int CombinedExitCode(const std::vector<int>& codes);

int RunIdentify(const CliContext& ctx);
int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion);
int RunProgram(const CliContext& ctx, const std::string& file, bool force);
int RunCheckFile(const CliContext& ctx, const std::string& file);

}  // namespace fennwick
