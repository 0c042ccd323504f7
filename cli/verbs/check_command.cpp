#include "cli/verbs/check_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/records/interrupt.h"
#include "cli/records/record_text.h"
#include "cli/records/run_report.h"
#include "cli/verbs/host.h"
#include "platform/file.h"

namespace fennwick {

namespace {

// A firmware file piped in: read whole, with the limit that files have.
bool ReadStandardInput(size_t limit, std::string& bytes, std::string& whyNot) {
  if (::isatty(STDIN_FILENO) != 0) {
    whyNot = "it is a terminal; pipe the file in (fennwick-cli program - < FILE)";
    return false;
  }
  bytes.clear();
  char chunk[65536];
  for (;;) {
    if (!WaitForStandardInput()) {
      whyNot = "stopped";
      return false;
    }
    const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      whyNot = std::string("read error: ") + std::strerror(errno);
      return false;
    }
    if (got == 0) return true;
    if (bytes.size() + static_cast<size_t>(got) > limit) {
      whyNot = "is larger than " + std::to_string(limit) + " bytes, too large for a firmware file";
      return false;
    }
    bytes.append(chunk, static_cast<size_t>(got));
  }
}

void Say(std::FILE* err, const std::string& text) {
  std::fprintf(err, "fennwick-cli: %s\n", text.c_str());
  std::fflush(err);
}

// The exit code of a file that is not programmed, its reasons told on `err`; none when it is.
std::optional<int> ProgrammingRefusal(std::FILE* err, const std::string& file, const FirmwareReport& report,
                                      bool force) {
  switch (PrecheckFirmware(err, file, report, force)) {
    case PrecheckResult::Refused:
      std::fprintf(err, "fennwick-cli: nothing was sent; --force programs the file all the same\n");
      return kExitFileProblems;
    case PrecheckResult::Unflashable:
      return kExitFileProblems;
    case PrecheckResult::Clean:
    case PrecheckResult::Forced:
      break;
  }
  return std::nullopt;
}

}  // namespace

bool ReadFirmwareArgument(const std::string& file, LoadedFirmware& firmware, std::string& whyNot,
                          const FileOptions& options) {
  const LoadOptions load{options.format, options.base};
  if (file == kStandardInputName) {
    std::string bytes;
    if (!ReadStandardInput(kFirmwareFileLimit, bytes, whyNot)) {
      whyNot = StopRequested() ? "stopped while waiting for the firmware on standard input; nothing was sent"
                               : "cannot read standard input: " + whyNot;
      return false;
    }
    firmware = LoadFirmware(std::move(bytes), load, file);
    return true;
  }
  FirmwareRead read = ReadFirmware(file, load);
  if (!read.ok()) {
    whyNot = "cannot read " + file + ": " + read.reason;
    return false;
  }
  firmware = std::move(read.firmware);
  return true;
}

int FailedReadCode(const std::string& file) {
  return file == kStandardInputName && StopRequested() ? kExitInterrupted : kExitFile;
}

int RunCheck(std::FILE* out, std::FILE* err, const std::string& file, const FileOptions& options) {
  LoadedFirmware firmware;
  std::string whyNot;
  if (!ReadFirmwareArgument(file, firmware, whyNot, options)) {
    Say(err, whyNot);
    return FailedReadCode(file);
  }
  const FirmwareReport& r = firmware.report;
  std::fprintf(out, "format: %s\n", FirmwareFormatName(r.format));
  std::fprintf(out, "lines: %d\n", r.lineCount);
  if (r.ranges.empty()) std::fprintf(out, "data: none\n");
  for (const DataRange& range : r.ranges) {
    std::fprintf(out, "data: 0x%05X-0x%05X, %s\n", range.first, range.last,
                 CountOf(range.Size(), "byte", "bytes").c_str());
  }
  const DescriptionBlock& d = r.description;
  if (!d.present) {
    std::fprintf(out, "description: none (no '$' at 0x%X)\n", kDescriptionAddress);
  } else {
    std::fprintf(out, "description: %s\n", AsciiQuoted(d.first).c_str());
    std::fprintf(out, "description: second text %s\n", AsciiQuoted(d.second).c_str());
    const std::string compat(d.compat.begin(), d.compat.end());
    std::fprintf(out, "description: compatibility %s\n", AsciiQuoted(compat).c_str());
  }
  std::fprintf(out, "crc32: 0x%08X\n", r.crc32);
  for (const FileProblem& p : r.warnings) std::fprintf(out, "warning: %s\n", ProblemLine(p).c_str());
  for (const FileProblem& p : r.problems) std::fprintf(out, "%s\n", ProblemLine(p).c_str());
  if (r.unlistedProblems > 0) {
    std::fprintf(out, "... and %s not listed\n", CountOf(r.unlistedProblems, "more problem", "more problems").c_str());
  }
  const size_t n = r.ProblemCount();
  std::fprintf(out, "result: %s\n", n == 0 ? "no problems" : CountOf(n, "problem", "problems").c_str());
  std::fflush(out);
  return n == 0 ? 0 : kExitFileProblems;
}

PrecheckResult PrecheckFirmware(std::FILE* err, const std::string& file, const FirmwareReport& r, bool force) {
  if (r.format == FirmwareFormat::Binary && r.outOfRangeBytes > 0) {
    // Not even with --force: flashing part of an image is never what the file asks for.
    Say(err, file + " does not fit the flash: " + r.problems.front().text + "; not programmed");
    return PrecheckResult::Unflashable;
  }
  if (!r.hasData) {
    // Not even with --force: an image without data would flash the whole flash with zeros.
    const std::string name = file == kStandardInputName ? std::string("standard input") : file;
    Say(err, name + (r.format == FirmwareFormat::Binary ? " is empty" : " holds no data for the flash") +
                 ": nothing to program; not programmed");
    return PrecheckResult::Unflashable;
  }
  for (const FileProblem& p : r.warnings) Say(err, "warning: " + file + " " + ProblemLine(p));
  if (!r.HasProblems()) return PrecheckResult::Clean;
  for (const FileProblem& p : r.problems) Say(err, file + " " + ProblemLine(p));
  if (r.unlistedProblems > 0) {
    Say(err, file + ": and " + CountOf(r.unlistedProblems, "more problem", "more problems"));
  }
  const std::string problems = CountOf(r.ProblemCount(), "problem", "problems");
  if (force) {
    Say(err, "warning: " + file + " has " + problems + "; programming it anyway (--force)");
    return PrecheckResult::Forced;
  }
  Say(err, file + " has " + problems + "; not programmed (give --force to program it anyway)");
  return PrecheckResult::Refused;
}

FileForRun ReadFileForRun(const CliContext& ctx, const std::string& verb, const std::string& file,
                          std::optional<bool> force) {
  FileForRun run;
  std::string whyNot;
  if (!ReadFirmwareArgument(file, run.firmware, whyNot, ctx.file)) {
    Say(ctx.err, whyNot);
    run.stop = FailedReadCode(file);
  } else if (force) {
    run.stop = ProgrammingRefusal(ctx.err, file, run.firmware.report, *force);
  }
  if (!run.stop) {
    run.facts = FactsOf(file, run.firmware.report);
  } else if (ctx.json) {
    run.stop = WriteJsonDocument(ctx.out, ctx.err, JsonDocument({verb, ctx.station, nullptr}, {}, *run.stop),
                                 *run.stop);
  }
  return run;
}

}  // namespace fennwick
