#include "cli/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

#include "cli/board.h"
#include "cli/check_command.h"
#include "cli/log_file.h"
#include "cli/multi_display.h"
#include "cli/run_report.h"
#include "cli/terminal_console.h"
#include "link/mcu_port.h"
#include "platform/text.h"

namespace {

const char16_t kPortName[] = u"COM2:";

struct JobResult {
  JobResult() = default;
  JobResult(int c, std::string t) : code(c), text(std::move(t)) {}
  int code = kExitFailure;
  std::string text;  // short, for the table and the log file
  bool programmed = false;  // blocks were sent
  uint32_t blocksAccepted = 0;
  uint32_t timeouts = 0;
};
using BoardJob = std::function<JobResult(Board&)>;

// Why the port did not open, in words a person can act on.
JobResult ExplainOpenFailure(Board& board) {
  const std::string path = board.serial.LastOpenPath();
  switch (board.serial.LastOpenError()) {
    case OpenError::NoSuchDevice:
      board.Say("no such device: " + path + " (give the port with --port PATH)");
      return {kExitPort, "no such device"};
    case OpenError::PermissionDenied:
      board.Say("permission denied: " + path +
                " (add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again)");
      return {kExitPort, "permission denied"};
    case OpenError::Busy:
      board.Say("busy: " + path + " is in use by another program");
      return {kExitPort, "port busy"};
    case OpenError::NotSerial:
      board.Say("not a serial device: " + path);
      return {kExitPort, "not a serial device"};
    case OpenError::Other:
    case OpenError::None:
      break;
  }
  board.Say("cannot set up the serial port " + path);
  return {kExitPort, "port not set up"};
}

// Opens and identifies as the window does at its start.
JobResult Identify(Board& board) {
  const int opened = board.port.OpenAndIdentify(kPortName);
  if (opened == -2) {
    board.Say("the serial port " + board.serial.LastOpenPath() + " refused its line settings");
    return {kExitPort, "line settings refused"};
  }
  if (opened != 0) return ExplainOpenFailure(board);
  // A port that vanished (a pulled adapter, a hung-up line) is not a silent MCU, and
  // nothing more can be sent on it.
  if (board.serial.State(board.port.m_hPort) == LineState::Lost) {
    board.Say("the port " + board.serial.LastOpenPath() + " was lost during the identification");
    return {kExitPortLost, "port lost"};
  }
  const IdentifyOutcome& id = board.port.LastIdentify();
  if (!id.versionReplied || !id.descriptionReplied) {
    board.Say(std::string("MCU silent: no reply to the ") + (id.versionReplied ? "description" : "version") +
              " query on " + board.serial.LastOpenPath());
    return {kExitSilent, "MCU silent"};
  }
  if (board.port.m_reply[1] != '#') board.description = board.port.m_reply + 3;
  return {kExitOk, "ok"};
}

// The reason a file cannot be read, from the system.
std::string FileProblem(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return "read error";
}

// Runs the examination on the board's port: ExamineFile for S19, the report of an image
// read strictly for Intel HEX.
using Examination = std::function<void(CMcuPort&)>;

// What the examination that has just run on the board's port found, as an exit code.
JobResult JudgeExamination(Board& board, const std::string& file) {
  const ExamineOutcome& result = board.port.LastExamine();
  if (result.verdict == ExamineOutcome::Verdict::FileNotOpened) {
    board.Say("cannot read " + file + ": " + FileProblem(file));
    return {kExitFile, "file not readable"};
  }
  if (result.verdict == ExamineOutcome::Verdict::OutOfMemory) {
    board.Say("out of memory");
    return {kExitFailure, "out of memory"};
  }
  if (result.readError) {
    board.Say("read error in " + file);
    return {kExitFile, "file not readable"};
  }
  switch (result.verdict) {
    case ExamineOutcome::Verdict::NoDescription:
      board.Say(file + " has no description block");
      return {kExitNoDescription, "no description"};
    case ExamineOutcome::Verdict::Unsuitable:
      board.Say(file + " does not suit the MCU attached");
      return {kExitUnsuitable, "unsuitable"};
    case ExamineOutcome::Verdict::Suitable:
      return {kExitOk, "suitable"};
    default:
      return {kExitFailure, "not examined"};
  }
}

JobResult Examine(Board& board, const Examination& examination, const std::string& file, bool offline,
                  const std::string& mcuVersion) {
  JobResult identified{kExitOk, "ok"};
  if (offline) {
    // The version line as the MCU would send it: its text from byte 3 on is compared.
    const std::string text = mcuVersion.size() > 3 ? mcuVersion.substr(3, kVersionSize - 1) : std::string();
    std::memcpy(board.version, text.data(), text.size());
  } else {
    identified = Identify(board);
    if (identified.code == kExitPort) return identified;
  }
  examination(board.port);
  const JobResult judged = JudgeExamination(board, file);
  if (judged.code == kExitFile || judged.code == kExitFailure) return judged;
  return identified.code != kExitOk ? identified : judged;
}

struct ProgramSettings {
  bool force = false;
  BlockLimits limits;
};

// Before the IAP request: a silent MCU, or a file that does not suit the MCU or carries
// no description, gets nothing unless the operator insisted. Returns kExitOk to go on.
JobResult VetBeforeProgramming(Board& board, const JobResult& identified, const Examination& examination,
                               const std::string& file, bool force) {
  const char* const kNothingSent = "nothing was sent; --force programs it all the same";
  if (identified.code == kExitSilent) {
    if (!force) {
      board.Say(kNothingSent);
      return identified;
    }
    board.Say("warning: programming a silent MCU anyway (--force)");
  }
  // It judges only: its texts are `examine`'s (and the window's Open's).
  board.Quiet(true);
  examination(board.port);
  board.Quiet(false);
  const JobResult judged = JudgeExamination(board, file);
  if (judged.code == kExitUnsuitable || judged.code == kExitNoDescription) {
    if (!force) {
      board.Say(kNothingSent + std::string(" (`fennwick-cli examine ") + file + "` shows the description)");
      return judged;
    }
    board.Say("warning: programming it anyway (--force)");
    return {kExitOk, "forced"};
  }
  return judged;
}

// The run's outcome as an exit code, with the verdict that the window logs.
JobResult ReportProgramming(Board& board, const ProgramOutcome& outcome, const std::string& file) {
  using Status = ProgramOutcome::Status;
  if (outcome.load.outOfRangeBytes > 0) {
    board.Say("warning: " + std::to_string(outcome.load.outOfRangeBytes) +
              " data bytes lie outside the flash (0x8000 to 0x27FFF) and were not sent");
  }
  if (outcome.load.overlongLines > 0) {
    board.Say("warning: " + std::to_string(outcome.load.overlongLines) +
              " lines longer than 1,024 characters were not loaded");
  }
  if (outcome.status == Status::NullPath || outcome.status == Status::FileNotOpened) {
    board.Say("cannot read " + file + ": " + FileProblem(file));
  }
  board.Say(ProgramVerdict(outcome));
  if (outcome.lineLost) {
    board.Say("the port " + board.serial.LastOpenPath() + " was lost during the run");
    return {kExitPortLost, "port lost"};
  }
  switch (outcome.status) {
    case Status::NullPath:
    case Status::FileNotOpened:
    case Status::FileUnreadable:
      return {kExitFile, "file not readable"};
    case Status::Refused:
      return {kExitRefused, "IAP refused"};
    case Status::IapSilent:
      return {kExitSilent, "no IAP answer"};
    case Status::Stalled:
      return {kExitIncomplete, "stopped: no replies"};
    case Status::OutOfMemory:
      return {kExitFailure, "out of memory"};
    case Status::NotRun:
      return {kExitFailure, "not run"};
    case Status::Completed:
      break;
  }
  if (!outcome.Succeeded()) {
    return {kExitIncomplete, outcome.blockTimeouts > 0 ? std::to_string(outcome.blockTimeouts) + " replies timed out"
                                                       : std::string("incomplete")};
  }
  return {kExitOk, "programmed"};
}

JobResult Program(Board& board, const std::u16string& path, const std::string& file, const ImageLoader& loader,
                  const Examination& examination, const ProgramSettings& settings) {
  const JobResult identified = Identify(board);
  if (identified.code == kExitPort || identified.code == kExitPortLost) return identified;
  const JobResult vetted = VetBeforeProgramming(board, identified, examination, file, settings.force);
  if (vetted.code != kExitOk) return vetted;
  board.port.SetBlockLimits(settings.limits);
  const ProgramOutcome outcome = board.port.ProgramMcu(path.c_str(), loader);
  JobResult result = ReportProgramming(board, outcome, file);
  // Blocks went out only once the IAP request was answered and the file was read.
  result.programmed =
      outcome.status == ProgramOutcome::Status::Completed || outcome.status == ProgramOutcome::Status::Stalled;
  result.blocksAccepted = outcome.blocksReplied;
  result.timeouts = outcome.blockTimeouts;
  return result;
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// What a run is about, besides the boards: the verb, its command text, the file read.
struct RunSetup {
  std::string command;  // e.g. "program fw.s19", for the log file
  RunInfo info;
};

// The verdict of the examination that examine and program run on the board's port; none
// when there was no MCU version to judge against.
std::string VerdictWord(const Board& board) {
  if (board.version[0] == '\0') return {};
  switch (board.port.LastExamine().verdict) {
    case ExamineOutcome::Verdict::Suitable: return "suitable";
    case ExamineOutcome::Verdict::Unsuitable: return "unsuitable";
    case ExamineOutcome::Verdict::NoDescription: return "no-description";
    default: return {};
  }
}

// Gathers one board's run, and records it where the line keeps its records.
PortRun Finish(const CliContext& ctx, const RunSetup& setup, size_t index, const std::string& port,
               const std::string& started, const Board& board, const JobResult& result, double secs) {
  PortRun run;
  run.port = port;
  if (index < ctx.units.size()) run.unit = ctx.units[index];
  run.mcuVersion = board.VersionText();
  run.mcuDescription = board.description;
  while (!run.mcuDescription.empty() && (run.mcuDescription.back() == '\n' || run.mcuDescription.back() == '\r')) {
    run.mcuDescription.pop_back();
  }
  run.verdict = VerdictWord(board);
  run.exitCode = result.code;
  run.detail = result.text;
  run.programmed = result.programmed;
  run.blocksAccepted = result.blocksAccepted;
  run.timeouts = result.timeouts;
  run.started = started;
  run.seconds = secs;
  run.log = board.log();
  if (!ctx.logFile.empty()) {
    RunRecord record;
    record.startedUtc = started;
    record.port = port;
    record.command = setup.command;
    record.log = run.log;
    record.result = result.text;
    record.exitCode = result.code;
    record.seconds = secs;
    record.tool = std::string("fennwick-cli ") + ToolVersion();
    record.station = ctx.station;
    record.unit = run.unit;
    if (setup.info.file != nullptr) {
      record.file = setup.info.file->path;
      record.imageCrc32 = Crc32Text(setup.info.file->crc32);
    }
    record.mcuVersion = run.mcuVersion;
    if (!AppendRunRecord(ctx.logFile, record)) {
      std::fprintf(ctx.err, "fennwick-cli: cannot write the log file %s: %s\n", ctx.logFile.c_str(),
                   std::strerror(errno));
    }
  }
  if (ctx.syslog) SyslogSummary(setup.info, run);
  return run;
}

PortRun RunOne(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  TerminalConsole console(ctx.out, ctx.err, ctx.progressBar, ctx.sameScreen);
  std::optional<std::string> port;
  if (!ctx.ports.empty()) port = ctx.ports.front();
  // The log's lines have no line end of their own at times ("MCU: ", the verdicts); on a
  // terminal, messages and the prompt start on a line of their own, while a pipe gets the
  // log text exactly.
  const bool terminal = ::isatty(fileno(ctx.out)) != 0;
  const Board* self = nullptr;
  size_t ended = 0;  // the log length at the last line end we added
  auto endLine = [&] {
    if (!terminal || self == nullptr) return;
    const std::string& log = self->log();
    if (!log.empty() && log.back() != '\n' && ended != log.size()) {
      std::fputs("\n", ctx.out);
      ended = log.size();
    }
    std::fflush(ctx.out);
  };
  Board board(port, ctx.plainPoll, console, console, [&](const std::string& text) {
    console.Finish();
    endLine();
    std::fprintf(ctx.err, "fennwick-cli: %s\n", text.c_str());
    std::fflush(ctx.err);
  });
  self = &board;
  const std::string started = UtcNow();
  const auto start = std::chrono::steady_clock::now();
  const JobResult result = job(board);
  console.Finish();
  endLine();
  std::fflush(ctx.out);
  return Finish(ctx, setup, 0, board.serial.LastOpenPath(), started, board, result, Since(start));
}

// Each port in its own thread with its own board; nothing of one run is shared with another.
std::vector<PortRun> RunMany(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  const size_t n = ctx.ports.size();
  MultiDisplay display(ctx.out, ctx.err, ctx.progressBar, ctx.ports);
  std::vector<std::unique_ptr<Board>> boards;
  for (size_t i = 0; i < n; ++i) {
    boards.push_back(std::make_unique<Board>(ctx.ports[i], ctx.plainPoll, display.Log(i), display.Progress(i),
                                             [&display, i](const std::string& text) { display.Say(i, text); }));
  }
  std::vector<PortRun> runs(n);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i) {
    threads.emplace_back([&, i] {
      const std::string started = UtcNow();
      const auto start = std::chrono::steady_clock::now();
      display.SetStatus(i, "running");
      const JobResult result = job(*boards[i]);
      const double secs = Since(start);
      display.SetStatus(i, result.text);
      runs[i] = Finish(ctx, setup, i, ctx.ports[i], started, *boards[i], result, secs);
    });
  }
  for (auto& t : threads) t.join();
  display.Finish();

  size_t portWidth = 4, versionWidth = 11;
  for (const PortRun& run : runs) {
    portWidth = std::max(portWidth, run.port.size());
    versionWidth = std::max(versionWidth, run.mcuVersion.size());
  }
  const int pw = static_cast<int>(portWidth), vw = static_cast<int>(versionWidth);
  std::fprintf(ctx.out, "\n%-*s  %-*s  %-22s  %8s\n", pw, "port", vw, "MCU version", "result", "time");
  for (const PortRun& run : runs) {
    std::fprintf(ctx.out, "%-*s  %-*s  %-22s  %7.1fs\n", pw, run.port.c_str(), vw, run.mcuVersion.c_str(),
                 run.detail.c_str(), run.seconds);
  }
  std::fflush(ctx.out);
  return runs;
}

// With --json the log text goes nowhere (the document carries it) and stdout gets the
// document alone.
int RunOnBoards(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  CliContext view = ctx;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(nullptr, &std::fclose);
  if (ctx.json) {
    sink.reset(std::fopen("/dev/null", "w"));
    if (!sink) {
      std::fprintf(ctx.err, "fennwick-cli: cannot open /dev/null: %s\n", std::strerror(errno));
      return kExitFailure;
    }
    view.out = sink.get();
    view.sameScreen = false;
  }
  std::vector<PortRun> runs;
  if (ctx.ports.size() > 1) {
    runs = RunMany(view, setup, job);
  } else {
    runs.push_back(RunOne(view, setup, job));
  }
  std::vector<int> codes;
  for (const PortRun& run : runs) codes.push_back(run.exitCode);
  const int code = CombinedExitCode(codes);
  if (ctx.json) {
    std::fputs(JsonDocument(setup.info, runs, code).c_str(), ctx.out);
    std::fflush(ctx.out);
  }
  return code;
}

bool ToPath(const CliContext& ctx, const std::string& file, std::u16string& path) {
  if (!Utf8ToUtf16(file, path) || path.empty()) {
    std::fprintf(ctx.err, "fennwick-cli: cannot use the file name %s\n", file.c_str());
    return false;
  }
  return true;
}

// A command that ends before any board is reached; with --json it still leaves a document,
// without ports, so that a script always has one to read.
int StopEarly(const CliContext& ctx, const std::string& verb, int code) {
  if (ctx.json) {
    std::fputs(JsonDocument({verb, ctx.station, nullptr}, {}, code).c_str(), ctx.out);
    std::fflush(ctx.out);
  }
  return code;
}

// Reads the file for its facts (path, format, CRC-32, description); false when it cannot be read.
bool ReadFacts(const CliContext& ctx, const std::string& file, FirmwareReport& report, FileFacts& facts) {
  std::string whyNot;
  if (!ReadFirmwareFile(file, report, whyNot, ctx.file)) {
    std::fprintf(ctx.err, "fennwick-cli: %s\n", whyNot.c_str());
    return false;
  }
  facts = FactsOf(file, report);
  return true;
}

// The examination of `file` on a board's port: ExamineFile for S19; for Intel HEX and raw
// binaries the report of the strict reading into `report` (and `facts`), which must outlive
// the examination. False, with the reason on stderr, when the file cannot be read.
bool MakeExamination(const CliContext& ctx, const std::string& file, const std::u16string& path,
                     FirmwareReport& report, FileFacts& facts, Examination& examination) {
  examination = [&path](CMcuPort& port) { port.ExamineFile(path.c_str()); };
  const FirmwareFormat format = ResolveFormat(file, ctx.file);
  if (format == FirmwareFormat::S19 || format == FirmwareFormat::Unknown) return true;
  if (!ReadFacts(ctx, file, report, facts)) return false;
  examination = [&report](CMcuPort& port) { port.ExamineImage(report.image.data(), report.lineCount); };
  return true;
}

}  // namespace

const char* ResultWord(int exitCode) {
  switch (exitCode) {
    case kExitOk: return "ok";
    case kExitUsage: return "wrong-argument";
    case kExitPort: return "port-failed";
    case kExitSilent: return "mcu-silent";
    case kExitUnsuitable: return "unsuitable";
    case kExitNoDescription: return "no-description";
    case kExitFile: return "file-unreadable";
    case kExitRefused: return "iap-refused";
    case kExitIncomplete: return "incomplete";
    case kExitPortLost: return "port-lost";
    case kExitFileProblems: return "file-problems";
    case kExitMixed: return "mixed";
    default: return "failed";
  }
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

int RunIdentify(const CliContext& ctx) {
  RunSetup setup{"identify", {"identify", ctx.station, nullptr}};
  return RunOnBoards(ctx, setup, Identify);
}

int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion) {
  std::u16string path;
  if (!ToPath(ctx, file, path)) return StopEarly(ctx, "examine", kExitFile);
  Examination examination;
  FirmwareReport report;
  FileFacts facts;
  if (!MakeExamination(ctx, file, path, report, facts, examination)) return StopEarly(ctx, "examine", kExitFile);
  const bool readStrictly = !report.image.empty();
  if (readStrictly && report.HasProblems()) {
    std::fprintf(ctx.err, "fennwick-cli: %s has problems; `fennwick-cli check %s` lists them\n", file.c_str(),
                 file.c_str());
  }
  const bool needFacts = ctx.json || ctx.syslog || !ctx.logFile.empty();
  if (needFacts && !readStrictly && !ReadFacts(ctx, file, report, facts)) return StopEarly(ctx, "examine", kExitFile);
  RunSetup setup{"examine " + file, {"examine", ctx.station, facts.path.empty() ? nullptr : &facts}};
  if (offline) {
    CliContext one = ctx;
    one.ports.clear();
    return RunOnBoards(one, setup, [&](Board& b) { return Examine(b, examination, file, true, mcuVersion); });
  }
  return RunOnBoards(ctx, setup, [&](Board& b) { return Examine(b, examination, file, false, mcuVersion); });
}

int RunProgram(const CliContext& ctx, const std::string& file, bool force) {
  std::u16string path;
  if (!ToPath(ctx, file, path)) return StopEarly(ctx, "program", kExitFile);
  // The file is checked before anything reaches a board.
  switch (PrecheckFile(ctx.err, file, force, ctx.file)) {
    case PrecheckResult::Unreadable:
      return StopEarly(ctx, "program", kExitFile);
    case PrecheckResult::Refused:
      std::fprintf(ctx.err, "fennwick-cli: nothing was sent; --force programs the file all the same\n");
      return StopEarly(ctx, "program", kExitFileProblems);
    case PrecheckResult::TooLong:
      return StopEarly(ctx, "program", kExitFileProblems);
    case PrecheckResult::Clean:
    case PrecheckResult::Forced:
      break;
  }
  Examination examination;
  FirmwareReport report;
  FileFacts facts;
  if (!MakeExamination(ctx, file, path, report, facts, examination)) return StopEarly(ctx, "program", kExitFile);
  if (report.image.empty() && !ReadFacts(ctx, file, report, facts)) return StopEarly(ctx, "program", kExitFile);
  const ImageLoader loader = LoaderFor(report.format, ctx.file, force);
  ProgramSettings settings;
  settings.force = force;
  settings.limits.timeoutMs = ctx.blockTimeoutMs;
  settings.limits.maxConsecutiveTimeouts = ctx.maxTimeouts;
  RunSetup setup{"program " + file, {"program", ctx.station, &facts}};
  return RunOnBoards(ctx, setup, [&](Board& b) { return Program(b, path, file, loader, examination, settings); });
}

int RunCheckFile(const CliContext& ctx, const std::string& file) {
  if (!ctx.json) return RunCheck(ctx.out, ctx.err, file, ctx.file);
  FirmwareReport report;
  FileFacts facts;
  if (!ReadFacts(ctx, file, report, facts)) return StopEarly(ctx, "check", kExitFile);
  const int code = report.ProblemCount() == 0 ? kExitOk : kExitFileProblems;
  std::fputs(CheckJsonDocument(facts, report, code).c_str(), ctx.out);
  std::fflush(ctx.out);
  return code;
}
