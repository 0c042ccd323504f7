// fennwick-cli: identify, examine and program an MCU from the command line.
#include <unistd.h>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/interrupt.h"
#include "cli/ports.h"

int main(int argc, char** argv) {
  // Before anything is opened: a port must never become stdout.
  if (!PrepareProcess()) return kExitFailure;
  CLI::App app{
      "Fennwick: checks an S19 firmware file against the MCU on a serial port and rewrites its flash.\n"
      "The port is \"COM2:\" (/dev/ttyS1) unless --port or FENNWICK_PORT names another.\n"
      "Exit codes: 0 ok, 1 failure, 2 wrong argument, 3 port cannot be opened,\n"
      "4 MCU silent (no reply to a query, or to the IAP request: nothing was flashed),\n"
      "5 file unsuitable, 6 file without description, 7 file missing or unreadable,\n"
      "8 IAP refused, 9 replies timed out or writes short (or the run stopped after\n"
      "--max-timeouts block time-outs in a row), 10 port lost during the run,\n"
      "11 the file check found problems, 13 the log file could not be written,\n"
      "14 interrupted by SIGINT or SIGTERM (the run stops after the current block; a second\n"
      "signal ends it at once), 15 a board's thread could not be started.\n"
      "program sends nothing when the MCU is silent or the file is unsuitable, has no\n"
      "description or has problems (exit 4, 5, 6, 11), unless --force is given.\n"
      "FILE must be a regular file of at most 64 MiB (not a FIFO or a device); it is read once,\n"
      "and what was checked is what every board gets.",
      "fennwick-cli"};
  CliContext ctx;
  app.add_option("--port", ctx.ports,
                 "serial device to use instead of COM2: (e.g. /dev/ttyUSB0, a simulator's pty); give it once per "
                 "board to drive several boards at once");
  app.add_option("--log-file", ctx.logFile,
                 "append each port's whole log of the run to FILE (a regular file, or a new one), with a time stamp");
  app.add_flag("--plain-poll", ctx.plainPoll, "benchmark aid: sleep a full 100 ms on every empty poll")
      ->group("");  // hidden
  app.require_subcommand(1);

  auto* identify = app.add_subcommand("identify", "ask the MCU for its version and description");

  std::string examineFile;
  bool offline = false;
  std::string mcuVersion;
  auto* examine = app.add_subcommand("examine", "show an S19 file's description and whether it suits the MCU");
  examine->add_option("FILE", examineFile, "S19 or Intel HEX file")->required();
  examine->add_flag("--offline", offline, "do not use a port; compare with --mcu-version");
  auto* versionOpt =
      examine->add_option("--mcu-version", mcuVersion, "the MCU's version line, as it answers \"$R\" (with --offline)");
  versionOpt->needs(examine->get_option("--offline"));

  std::string programFile;
  bool force = false;
  auto* program = app.add_subcommand("program", "rewrite the MCU's flash from an S19 file");
  program->add_option("FILE", programFile, "S19 or Intel HEX file")->required();
  program->add_flag("--force", force,
                    "program even when the MCU is silent, or the file does not suit it, has no description or has "
                    "problems");
  program->add_option("--block-timeout", ctx.blockTimeoutMs, "silence allowed for each block's reply")
      ->type_name("MS")
      ->capture_default_str()
      ->check(CLI::Range(1u, 3600000u));
  program->add_option("--max-timeouts", ctx.maxTimeouts,
                      "block replies in a row that may time out before the run stops (0: never stop)")
      ->type_name("N")
      ->capture_default_str()
      ->check(CLI::Range(0u, 1024u));

  std::string checkFile;
  auto* check = app.add_subcommand("check", "read an S19 or Intel HEX file strictly and list its problems");
  check->add_option("FILE", checkFile, "S19 or Intel HEX file")->required();

  auto* ports = app.add_subcommand("ports", "list the machine's serial ports and what \"COM2:\" maps to");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  if (int rc = *check ? kExitOk : ValidatePorts(ctx); rc != kExitOk) return rc;
  if (int rc = ValidateOfflineExamine(ctx, *examine && offline, versionOpt->count() > 0); rc != kExitOk) return rc;
  if (int rc = OpenLogFile(ctx); rc != kExitOk) return rc;
  ctx.progressBar = ::isatty(STDERR_FILENO) != 0;
  ctx.sameScreen = ctx.progressBar && ::isatty(STDOUT_FILENO) != 0;

  if (*ports) {
    std::optional<std::string> override;
    if (!ctx.ports.empty()) override = ctx.ports.front();
    return RunPorts(ctx.out, override);
  }
  if (*check) return RunCheckFile(ctx, checkFile);
  if (*identify) return RunIdentify(ctx);
  if (*examine) return RunExamine(ctx, examineFile, offline, mcuVersion);
  if (*program) return RunProgram(ctx, programFile, force);
  return kExitUsage;
}
