#include "cli/verbs/commands.h"

#include <cstdio>
#include <cstring>

#include "cli/records/run_report.h"
#include "cli/run/board_runner.h"
#include "cli/run/jobs.h"
#include "cli/verbs/check_command.h"

namespace fennwick {

int RunIdentify(const CliContext& ctx) {
  RunSetup setup;
  setup.command = "identify";
  setup.info = {"identify", ctx.station, nullptr};
  return RunOnBoards(ctx, setup, Identify);
}

int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion) {
  const FileForRun read = ReadFileForRun(ctx, "examine", file);
  if (read.stop) return *read.stop;
  const LoadedFirmware& firmware = read.firmware;
  // Intel HEX and raw binaries are examined from the image of their strict reading, which
  // says nothing of their problems.
  if (firmware.FromImage() && firmware.report.HasProblems()) {
    std::fprintf(ctx.err, "fennwick-cli: %s has problems; `fennwick-cli check %s` lists them\n", file.c_str(),
                 file.c_str());
  }
  const FileFacts& facts = read.facts;
  const RunSetup setup{"examine " + file, {"examine", ctx.station, &facts}};
  // Offline, one board runs and no port is opened, whatever --port says.
  CliContext run = ctx;
  if (offline) run.ports.clear();
  return RunOnBoards(run, setup, [&](Board& b) { return Examine(b, firmware, file, offline, mcuVersion); });
}

int RunProgram(const CliContext& ctx, const std::string& file, bool force) {
  // Read once: the bytes checked here are the bytes every board gets, whatever happens to
  // the file on disk while the boards are identified.
  const FileForRun read = ReadFileForRun(ctx, "program", file, force);
  if (read.stop) return *read.stop;
  const LoadedFirmware& firmware = read.firmware;
  ProgramSettings settings;
  settings.force = force;
  settings.dryRun = ctx.dryRun;
  settings.limits.timeoutMs = ctx.blockTimeoutMs;
  settings.limits.maxConsecutiveTimeouts = ctx.maxTimeouts;
  const FileFacts& facts = read.facts;
  const RunSetup setup{"program " + file, {"program", ctx.station, &facts, ctx.dryRun}};
  return RunOnBoards(ctx, setup, [&](Board& b) { return Program(b, firmware, file, settings); });
}

int RunCheckFile(const CliContext& ctx, const std::string& file) {
  if (!ctx.json) return RunCheck(ctx.out, ctx.err, file, ctx.file);
  const FileForRun read = ReadFileForRun(ctx, "check", file);
  if (read.stop) return *read.stop;
  const FirmwareReport& report = read.firmware.report;
  const int code = report.ProblemCount() == 0 ? kExitOk : kExitFileProblems;
  return WriteJsonDocument(ctx.out, ctx.err, CheckJsonDocument(read.facts, report, code), code);
}

}  // namespace fennwick
