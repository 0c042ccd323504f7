// fennwick-cli's options, their checks and the dispatch to the commands.
#include "cli/options/command_line.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdlib>

#include "cli/console/console_parts.h"
#include "cli/options/config_file.h"
#include "cli/options/validate.h"
#include "cli/records/interrupt.h"
#include "cli/records/run_report.h"
#include "cli/run/jobs.h"
#include "cli/verbs/check_command.h"
#include "cli/verbs/commands.h"
#include "cli/verbs/host.h"
#include "cli/verbs/ports.h"

namespace fennwick {

namespace {

const char* const kVerbs = "identify, examine, program, check, ports";

// An empty file name would quietly mean no file at all (no records, no configuration); one of
// blanks only is a slip of the same kind, and a file that nobody would find.
CLI::Validator NamedFile() {
  return CLI::Validator(
      [](const std::string& name) {
        if (name.empty()) return std::string("needs a file name; it was given empty");
        if (name.find_first_not_of(" \t") == std::string::npos) return std::string("needs a file name; it was given blanks only");
        return std::string();
      },
      "", "NamedFile");
}

bool HasControlBytes(const std::string& text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
  }
  return false;
}

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

int Usage(const std::string& text) {
  std::fprintf(stderr, "fennwick-cli: %s\n", text.c_str());
  return kExitUsage;
}

// Options that the parser cannot judge alone: they depend on each other or on the file.
int CheckCombination(const CliContext& ctx, const std::string& file, bool baseGiven) {
  if (!ctx.units.empty() && ctx.units.size() != std::max<size_t>(ctx.ports.size(), 1)) {
    return Usage("--unit is given " + CountOf(ctx.units.size(), "time", "times") + " for " +
                 CountOf(std::max<size_t>(ctx.ports.size(), 1), "port", "ports") + "; give one per --port, in order");
  }
  for (const std::string& unit : ctx.units) {
    if (unit.empty() || HasControlBytes(unit)) return Usage("--unit needs a name without control characters");
  }
  if (HasControlBytes(ctx.station)) return Usage("--station needs a name without control characters");
  if (ctx.syslog && !SystemLogAvailable()) {
    return Usage("--syslog: this system has no system log to send to; --log-file and --json keep the record");
  }
  const bool binary = ctx.file.format == FirmwareFormat::Binary ||
                      (ctx.file.format == FirmwareFormat::Unknown && HasBinaryName(file));
  if (baseGiven && !file.empty() && !binary) {
    return Usage("--base applies to raw binary images only (*.bin or --format bin)");
  }
  return kExitOk;
}

}  // namespace

int RunCommandLine(int argc, char** argv, const SerialWrap& wrap) {
  // Before anything is opened: a port must never become stdout.
  if (!PrepareProcess()) return kExitFailure;
  CLI::App app{
      "Fennwick: checks a firmware file (S19, Intel HEX or raw binary) against the MCU on a serial port and\n"
      "rewrites its flash. The port is \"COM2:\" (/dev/ttyS1) unless --port or FENNWICK_PORT names another.\n"
      "Options work before or after the command. Options not given on the line are taken from --config FILE, or\n"
      "else from ~/.config/fennwick/fennwick.ini ($XDG_CONFIG_HOME/fennwick/ when set) and then\n"
      "/etc/fennwick/fennwick.ini when they exist; e.g. station = \"line-3\" and\n"
      "port = [\"/dev/ttyUSB0\", \"/dev/ttyUSB1\"], a command's own options under [program] and the like.\n"
      "A key, section or value these files cannot take is an error naming the file and line (exit 2).\n"
      "program sends nothing when the MCU is silent or the file is unsuitable, has no\n"
      "description or has problems (exit 4, 5, 6, 11), unless --force is given.\n"
      "FILE must be a regular file of at most " + std::to_string(kFirmwareFileLimit >> 20) +
          " MiB (not a FIFO or a device), or \"-\" for standard input; it is read once,\n"
          "and what was checked is what every board gets.\n"
          "stdout gets the MCU's log as text in the locale (LF line ends, UTF-8, control bytes\n"
          "shown escaped) unless --raw is given; a terminal's stderr shows the progress.",
      "fennwick-cli"};
  // A heading line of its own, so that a man page generator makes it a section.
  app.footer(ExitStatusHelp());
  CliContext ctx;
  ctx.wrapSerial = wrap;
  app.set_version_flag("-V,--version", std::string("fennwick-cli ") + ToolVersion());
  std::string configFile;
  auto* configOpt =
      app.add_option("--config", configFile,
                     "read options from this INI file instead of the default ones; options on the line win")
          ->type_name("FILE")
          ->check(NamedFile())
          ->configurable(false);
  app.add_option("-p,--port", ctx.ports,
                 "serial device to use instead of COM2: (e.g. /dev/ttyUSB0, /dev/serial/by-id/..., a simulator's pty); "
                 "give it once per board to drive several boards at once")
      ->allow_extra_args(false)
      ->type_name("PATH");
  app.add_option("--log-file", ctx.logFile,
                 "append each port's whole log of the run to FILE (a regular file, or a new one), with a time stamp")
      ->type_name("FILE")
      ->check(NamedFile());
  app.add_flag("--json", ctx.json,
               "write one JSON document to stdout instead of the log text (docs/production-line.md gives its shape)");
  app.add_option("--unit", ctx.units, "the board's serial number or label, once per --port in the same order")
      ->allow_extra_args(false)
      ->type_name("ID");
  app.add_option("--station", ctx.station, "this station's name, for the JSON document and the records")
      ->type_name("NAME");
  app.add_flag("--syslog", ctx.syslog, "also send a one-line summary per port to the system log");
  app.add_flag("-q,--quiet", ctx.quiet, "no MCU log on stdout; messages and the verdict stay on stderr");
  app.add_flag("-v,--verbose", ctx.verbose,
               "trace the serial line on stderr: every byte sent (>) and received (<), with milliseconds");
  app.add_flag("--raw", ctx.style.raw,
               "write the MCU log to stdout as the device's bytes (CR LF, its 8-bit code page, control bytes) "
               "instead of text in the locale");
  std::string format = "auto";
  app.add_option("--format", format, "read the file as this format; raw binaries are never guessed from content")
      ->check(CLI::IsMember({"auto", "s19", "hex", "bin"}))
      ->type_name("auto|s19|hex|bin");
  std::string base;
  auto* baseOpt = app.add_option("--base", base, "MCU address of a raw binary's first byte (default " + Hex(kFlashBase) + ")")
                      ->type_name("ADDR");
  app.require_subcommand(1);
  app.fallthrough();

  auto* identify = app.add_subcommand("identify", "ask the MCU for its version and description");

  std::string examineFile;
  bool offline = false;
  std::string mcuVersion;
  auto* examine = app.add_subcommand("examine", "show a firmware file's description and whether it suits the MCU");
  examine->add_option("FILE", examineFile, "S19, Intel HEX or raw binary file; - reads standard input")->required();
  examine->add_flag("--offline", offline, "do not use a port; compare with --mcu-version");
  auto* versionOpt =
      examine->add_option("--mcu-version", mcuVersion, "the MCU's version line, as it answers \"$R\" (with --offline)");
  versionOpt->needs(examine->get_option("--offline"));

  std::string programFile;
  bool force = false;
  auto* program = app.add_subcommand("program", "rewrite the MCU's flash from a firmware file");
  program->add_option("FILE", programFile, "S19, Intel HEX or raw binary file; - reads standard input")->required();
  program->add_flag("--force", force,
                    "program even when the MCU is silent, or the file does not suit it, has no description or has "
                    "problems");
  program->add_flag("--dry-run", ctx.dryRun,
                    "identify, examine and check, then stop before the IAP request; exit with the code the run "
                    "would start with")
      // Only on the line: a configured dry run would make every run exit 0 with nothing flashed.
      ->configurable(false);
  program->add_option("--block-timeout", ctx.blockTimeoutMs, "silence allowed for each block's reply")
      ->type_name("MS")
      ->capture_default_str()
      ->check(CLI::Range(1u, 3600000u));
  program->add_option("--max-timeouts", ctx.maxTimeouts,
                      "block replies in a row that may time out before the run stops (0: never stop)")
      ->type_name("N")
      ->capture_default_str()
      ->check(CLI::Range(0u, kBlockCount));

  std::string checkFile;
  auto* check = app.add_subcommand("check", "read a firmware file strictly and list its problems");
  check->add_option("FILE", checkFile, "S19, Intel HEX or raw binary file; - reads standard input")->required();

  auto* ports = app.add_subcommand(
      "ports", "list the machine's serial ports, their stable names and what \"COM2:\" maps to");
  bool portNames = false;
  ports->add_flag("--names", portNames, "print only the ports' paths, one a line");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    // An unknown option is named first, whatever else is wrong with the line.
    for (const std::string& arg : app.remaining(true)) {
      if (arg.size() > 1 && arg[0] == '-') return Usage("unknown option " + arg + " (--help lists the options)");
    }
    const std::vector<std::string> rest = app.remaining();
    if (app.get_subcommands().empty() && !rest.empty() && !rest.front().empty() && rest.front()[0] != '-') {
      return Usage("unknown command \"" + rest.front() + "\" (the commands are " + kVerbs + "; --help explains them)");
    }
    return Usage(std::string(e.what()) + " (--help explains the options)");
  }
  if (const int rc = ApplyConfigFiles(app, ConfigSources(configOpt->count() > 0 ? &configFile : nullptr), ctx.err);
      rc != kExitOk) {
    return rc;
  }
  if (portNames && ctx.json) return Usage("ports --names and --json exclude each other");
  if (format == "s19") ctx.file.format = FirmwareFormat::S19;
  if (format == "hex") ctx.file.format = FirmwareFormat::IntelHex;
  if (format == "bin") ctx.file.format = FirmwareFormat::Binary;
  if (baseOpt->count() > 0 && !ParseFlashAddress(base, ctx.file.base)) {
    return Usage("--base " + base + " is not an address inside the flash (" + FlashWindowText() + ")");
  }
  const std::string& file = *examine ? examineFile : *program ? programFile : checkFile;
  if (const int bad = CheckCombination(ctx, *identify || *ports ? std::string() : file, baseOpt->count() > 0); bad != kExitOk) {
    return bad;
  }
  if (int rc = *check ? kExitOk : ValidatePorts(ctx); rc != kExitOk) return rc;
  if (int rc = ValidateOfflineExamine(ctx, *examine && offline, versionOpt->count() > 0); rc != kExitOk) return rc;
  if (int rc = OpenLogFile(ctx); rc != kExitOk) return rc;
  // Nothing before a port waits on anything, so a signal until here is honoured now.
  if (StopRequested()) {
    std::fprintf(ctx.err, "fennwick-cli: interrupted before any port was opened; nothing was sent\n");
    return kExitInterrupted;
  }
  // The trace would tear a progress line apart.
  ctx.progressBar = IsProgressTerminal(STDERR_FILENO) && !ctx.json && !ctx.verbose;
  ctx.style.utf8 = LocaleIsUtf8();
  ctx.sameScreen = ctx.progressBar && IsProgressTerminal(STDOUT_FILENO);

  if (*ports) {
    const UdevTtySource machine;
    const PortsFormat shape = portNames ? PortsFormat::Names : ctx.json ? PortsFormat::Json : PortsFormat::Text;
    return RunPorts(ctx.out, ctx.err, ctx.FirstPort(), machine, shape);
  }
  if (*check) return RunCheckFile(ctx, checkFile);
  if (*identify) return RunIdentify(ctx);
  if (*examine) return RunExamine(ctx, examineFile, offline, mcuVersion);
  if (*program) return RunProgram(ctx, programFile, force);
  return kExitUsage;
}

}  // namespace fennwick
