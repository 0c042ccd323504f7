#include "cli/verbs/commands.h"

#include <cstdio>
#include <cstring>

#include "cli/records/run_report.h"
#include "cli/run/board_runner.h"
#include "cli/run/jobs.h"
#include "cli/verbs/check_command.h"

namespace fennwick {

namespace {

// Reads the firmware file once, before any port is touched: 0, or the exit code of its failure.
int ReadOnce(const CliContext& ctx, const std::string& file, LoadedFirmware& firmware) {
  std::string whyNot;
  if (ReadFirmwareArgument(file, firmware, whyNot, ctx.file)) return kExitOk;
  std::fprintf(ctx.err, "fennwick-cli: %s\n", whyNot.c_str());
  std::fflush(ctx.err);
  return FailedReadCode(file);
}

// A command that ends before any board is reached; with --json it still leaves a document,
// without ports, so that a script always has one to read.
int StopEarly(const CliContext& ctx, const std::string& verb, int code) {
  if (!ctx.json) return code;
  return WriteJsonDocument(ctx.out, ctx.err, JsonDocument({verb, ctx.station, nullptr}, {}, code), code);
}

}  // namespace

int RunIdentify(const CliContext& ctx) {
  RunSetup setup;
  setup.command = "identify";
  setup.info = {"identify", ctx.station, nullptr};
  return RunOnBoards(ctx, setup, Identify);
}

int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion) {
  LoadedFirmware firmware;
  if (const int code = ReadOnce(ctx, file, firmware); code != kExitOk) return StopEarly(ctx, "examine", code);
  // Intel HEX and raw binaries are examined from the image of their strict reading, which
  // says nothing of their problems.
  const bool fromImage =
      firmware.format() == FirmwareFormat::IntelHex || firmware.format() == FirmwareFormat::Binary;
  if (fromImage && firmware.report.HasProblems()) {
    std::fprintf(ctx.err, "fennwick-cli: %s has problems; `fennwick-cli check %s` lists them\n", file.c_str(),
                 file.c_str());
  }
  const FileFacts facts = FactsOf(file, firmware.report);
  const RunSetup setup{"examine " + file, {"examine", ctx.station, &facts}};
  if (offline) {
    CliContext one = ctx;
    one.ports.clear();
    return RunOnBoards(one, setup, [&](Board& b) { return Examine(b, firmware, file, true, mcuVersion); });
  }
  return RunOnBoards(ctx, setup, [&](Board& b) { return Examine(b, firmware, file, false, mcuVersion); });
}

int RunProgram(const CliContext& ctx, const std::string& file, bool force) {
  // Read once: the bytes checked here are the bytes every board gets, whatever happens to
  // the file on disk while the boards are identified.
  LoadedFirmware firmware;
  if (const int code = ReadOnce(ctx, file, firmware); code != kExitOk) return StopEarly(ctx, "program", code);
  switch (PrecheckFirmware(ctx.err, file, firmware.report, force)) {
    case PrecheckResult::Refused:
      std::fprintf(ctx.err, "fennwick-cli: nothing was sent; --force programs the file all the same\n");
      return StopEarly(ctx, "program", kExitFileProblems);
    case PrecheckResult::Unflashable:
      return StopEarly(ctx, "program", kExitFileProblems);
    case PrecheckResult::Clean:
    case PrecheckResult::Forced:
      break;
  }
  ProgramSettings settings;
  settings.force = force;
  settings.dryRun = ctx.dryRun;
  settings.limits.timeoutMs = ctx.blockTimeoutMs;
  settings.limits.maxConsecutiveTimeouts = ctx.maxTimeouts;
  const FileFacts facts = FactsOf(file, firmware.report);
  const RunSetup setup{"program " + file, {"program", ctx.station, &facts, ctx.dryRun}};
  return RunOnBoards(ctx, setup, [&](Board& b) { return Program(b, firmware, file, settings); });
}

int RunCheckFile(const CliContext& ctx, const std::string& file) {
  if (!ctx.json) return RunCheck(ctx.out, ctx.err, file, ctx.file);
  LoadedFirmware firmware;
  if (const int code = ReadOnce(ctx, file, firmware); code != kExitOk) return StopEarly(ctx, "check", code);
  const FirmwareReport& report = firmware.report;
  const int code = report.ProblemCount() == 0 ? kExitOk : kExitFileProblems;
  return WriteJsonDocument(ctx.out, ctx.err, CheckJsonDocument(FactsOf(file, report), report, code), code);
}

}  // namespace fennwick
