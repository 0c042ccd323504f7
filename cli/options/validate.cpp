#include <sys/stat.h>

#include <cstring>

#include "cli/options/validate.h"
#include "cli/records/log_file.h"

namespace fennwick {

namespace {

int Usage(const CliContext& ctx, const std::string& text) {
  std::fprintf(ctx.err, "fennwick-cli: %s\n", text.c_str());
  return kExitUsage;
}

}  // namespace

int ValidatePorts(const CliContext& ctx) {
  // An empty name would fall back to FENNWICK_PORT or COM2: and drive a port that nobody
  // named (a script's unset variable).
  for (const std::string& port : ctx.ports) {
    if (port.empty()) return Usage(ctx, "--port needs a device path; it was given empty");
  }
  if (ctx.ports.empty() && ctx.environmentPort && ctx.environmentPort->empty()) {
    return Usage(ctx, "FENNWICK_PORT is set but empty; name a port or unset it");
  }
  for (size_t i = 0; i < ctx.ports.size(); ++i) {
    struct stat a {};
    const bool aExists = ::stat(ctx.ports[i].c_str(), &a) == 0;
    for (size_t j = 0; j < i; ++j) {
      struct stat b {};
      const bool same = ctx.ports[i] == ctx.ports[j] ||
                        (aExists && ::stat(ctx.ports[j].c_str(), &b) == 0 && a.st_dev == b.st_dev &&
                         a.st_ino == b.st_ino);
      if (same) {
        return Usage(ctx, "the port " + ctx.ports[i] + " is given twice" +
                              (ctx.ports[i] == ctx.ports[j] ? std::string() : " (as " + ctx.ports[j] + ")"));
      }
    }
  }
  return kExitOk;
}

int OpenLogFile(CliContext& ctx) {
  if (ctx.logFile.empty()) return kExitOk;
  std::string whyNot;
  std::unique_ptr<RunLogFile> log = RunLogFile::Open(ctx.logFile, whyNot);
  if (!log) return Usage(ctx, "cannot use the log file " + ctx.logFile + ": " + whyNot);
  ctx.log = std::move(log);
  return kExitOk;
}

int ValidateOfflineExamine(const CliContext& ctx, bool offline, bool versionGiven) {
  if (offline && !versionGiven) {
    return Usage(ctx, "examine --offline needs the MCU's version line: --mcu-version LINE");
  }
  return kExitOk;
}

}  // namespace fennwick
