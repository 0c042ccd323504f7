#pragma once
// What the command line's options set for a command: its ports, where its output and records go,
// and how its boards are run.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/console/output_text.h"
#include "cli/records/system_log.h"
#include "firmware/loaded_firmware.h"
#include "link/protocol.h"
#include "platform/system.h"

namespace fennwick {

class RunLogFile;

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
  SystemLogSockets logSockets;  // where --syslog sends it
  std::string station;       // --station: the line's name for this PC, in every record
  std::vector<std::string> units;  // --unit, one per port in order: the boards' serial numbers
  FileOptions file;          // --format, --base
  OutputStyle style;         // --raw, and whether the locale writes UTF-8: how the log reaches stdout
  bool quiet = false;        // -q: no log text on stdout
  bool verbose = false;      // -v: the line traced on stderr
  bool dryRun = false;       // program --dry-run: everything up to the IAP request, which is not sent

  // The one board's port override: the first --port, else FENNWICK_PORT, else none (COM2:).
  std::optional<std::string> FirstPort() const { return ports.empty() ? environmentPort : ports.front(); }
};

}  // namespace fennwick
