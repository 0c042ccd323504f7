#include "cli/commands.h"

#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/board.h"
#include "cli/check_command.h"
#include "cli/interrupt.h"
#include "cli/log_file.h"
#include "cli/multi_display.h"
#include "cli/run_report.h"
#include "cli/terminal_console.h"
#include "link/mcu_port.h"

namespace fennwick {

namespace {

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

// What a command hands to its boards besides the job.
struct RunSetup {
  std::string command;  // for the log file, e.g. "program fw.s19"
  RunInfo info;         // the verb, the station, the file read at the start (its CRC-32 is the image every board gets)
  IFileSystem* files = &DefaultFileSystem();  // serves the firmware read at the start
};

// The name under which a board's port asks its file system for the firmware: that file
// system serves the bytes read at the start, whatever the name.
constexpr char16_t kFirmwareName[] = u"firmware";

JobResult Interrupted(Board& board, const std::string& when) {
  board.Say("interrupted " + when);
  return {kExitInterrupted, "interrupted"};
}

// A count as the messages write it: 1024 as "1,024".
std::string WithCommas(size_t n) {
  const std::string digits = std::to_string(n);
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// Why the port did not open, in words a person can act on.
JobResult ExplainOpenFailure(Board& board, const IdentifyOutcome& id) {
  const std::string& path = id.portPath;
  switch (id.openError) {
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
    case OpenError::ControllingTerminal:
      board.Say("not a port for an MCU: " + path + " is this program's own terminal");
      return {kExitPort, "own terminal"};
    case OpenError::Other:
    case OpenError::None:
      break;
  }
  board.Say("cannot set up the serial port " + path);
  return {kExitPort, "port not set up"};
}

// Opens and identifies as the window does at its start.
JobResult Identify(Board& board) {
  const int opened = board.port.OpenAndIdentify(kMcuPortName);
  const IdentifyOutcome& id = board.port.LastIdentify();
  if (opened == -2) {
    board.Say("the serial port " + id.portPath + " refused its line settings");
    return {kExitPort, "line settings refused"};
  }
  if (opened != 0) return ExplainOpenFailure(board, id);
  // A port that vanished (a pulled adapter, a hung-up line) is not a silent MCU, and
  // nothing more can be sent on it.
  if (id.lineLost) {
    board.Say("the port " + id.portPath + " was lost during the identification");
    return {kExitPortLost, "port lost"};
  }
  if (StopRequested()) return Interrupted(board, "during the identification; nothing was flashed");
  if (id.versionTooLong) {
    // It answered; the buffer holds what fits, and the rest of the reply came as the
    // answer to the next query.
    board.Say("the MCU's version reply on " + id.portPath + " is longer than " + WithCommas(kReplySize - 1) +
              " bytes; only its beginning was read");
  }
  if (!id.versionTooLong && (!id.versionReplied || !id.descriptionReplied)) {
    board.Say(std::string("MCU silent: no reply to the ") + (id.versionReplied ? "description" : "version") +
              " query on " + id.portPath);
    return {kExitSilent, "MCU silent"};
  }
  if (board.port.m_reply[1] != '#') board.description = board.port.m_reply + 3;
  return {kExitOk, "ok"};
}

// Runs the examination on the board's port: ExamineFile for S19, the report of an image
// read strictly for Intel HEX.
using Examination = std::function<void(CMcuPort&)>;

// What the examination that has just run on the board's port found, as an exit code.
JobResult JudgeExamination(Board& board, const std::string& file) {
  const ExamineOutcome& result = board.port.LastExamine();
  if (result.verdict == ExamineOutcome::Verdict::FileNotOpened) {
    board.Say("cannot read " + file);
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
    if (identified.code == kExitPort || identified.code == kExitInterrupted) return identified;
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

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

// The run's outcome as an exit code, with the verdict that the window logs.
JobResult ReportProgramming(Board& board, const ProgramOutcome& outcome, const std::string& file, uint32_t crc32) {
  using Status = ProgramOutcome::Status;
  if (outcome.load.outOfRangeBytes > 0) {
    board.Say("warning: " + std::to_string(outcome.load.outOfRangeBytes) +
              " data bytes lie outside the flash (" + FlashWindowText() + ") and were not sent");
  }
  if (outcome.load.overlongLines > 0) {
    board.Say("warning: " + std::to_string(outcome.load.overlongLines) + " lines longer than " +
              WithCommas(kPacketBufferSize) + " characters were not loaded");
  }
  if (outcome.status == Status::NullPath || outcome.status == Status::FileNotOpened) {
    board.Say("cannot read " + file);
  }
  board.Say(ProgramVerdict(outcome));
  if (outcome.lineLost) {
    board.Say("the port " + board.port.LastIdentify().portPath + " was lost during the run");
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
  if (outcome.interrupted) return {kExitInterrupted, "interrupted after block " + std::to_string(outcome.blocksSent)};
  if (!outcome.Succeeded()) {
    return {kExitIncomplete, outcome.blockTimeouts > 0 ? std::to_string(outcome.blockTimeouts) + " replies timed out"
                                                       : std::string("incomplete")};
  }
  board.Say("flashed " + file + ", image crc32 " + Hex32(crc32));
  return {kExitOk, "programmed"};
}

JobResult Program(Board& board, const std::string& file, const ImageLoader& loader, uint32_t crc32,
                  const Examination& examination, const ProgramSettings& settings) {
  const JobResult identified = Identify(board);
  if (identified.code == kExitPort || identified.code == kExitPortLost || identified.code == kExitInterrupted) {
    return identified;
  }
  const JobResult vetted = VetBeforeProgramming(board, identified, examination, file, settings.force);
  if (vetted.code != kExitOk) return vetted;
  board.port.SetBlockLimits(settings.limits);
  board.port.SetCancel(StopRequested);
  if (board.onProgramming) board.onProgramming();
  const ProgramOutcome outcome = board.port.ProgramMcu(kFirmwareName, loader);
  JobResult result = ReportProgramming(board, outcome, file, crc32);
  // Blocks went out only once the IAP request was answered and the file was read.
  result.programmed =
      outcome.status == ProgramOutcome::Status::Completed || outcome.status == ProgramOutcome::Status::Stalled;
  result.blocksAccepted = outcome.blocksReplied;
  result.timeouts = outcome.blockTimeouts;
  return result;
}

JobResult RunJob(const BoardJob& job, Board& board) {
  // A signal before the board's turn: nothing has been sent.
  if (StopRequested()) return Interrupted(board, "before the run; nothing was sent");
  return job(board);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

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

// Gathers one board's run, and records it where the line keeps its records. A record that
// could not be written turns a success into kExitLogFile, since a production line relies on it.
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
  if (ctx.log) {
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
    std::string whyNot;
    if (!ctx.log->Append(record, whyNot)) {
      std::fprintf(ctx.err, "fennwick-cli: cannot write the log file %s: %s\n", ctx.log->path().c_str(),
                   whyNot.c_str());
      std::fflush(ctx.err);
      if (run.exitCode == kExitOk) {
        run.exitCode = kExitLogFile;
        run.detail = "log file not written";
      }
    }
  }
  if (ctx.syslog) SyslogSummary(setup.info, run);
  return run;
}

PortRun RunOne(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  TerminalConsole console(ctx.out, ctx.err, ctx.progressBar, ctx.sameScreen, kPacketSize);
  const std::optional<std::string> port = ctx.FirstPort();
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
  Board board(
      port, ctx.wrapSerial, console, console,
      [&](const std::string& text) {
        console.Finish();
        endLine();
        std::fprintf(ctx.err, "fennwick-cli: %s\n", text.c_str());
        std::fflush(ctx.err);
      },
      *setup.files);
  self = &board;
  const std::string started = UtcNow();
  const auto start = std::chrono::steady_clock::now();
  JobResult result = RunJob(job, board);
  console.Finish();
  endLine();
  std::fflush(ctx.out);
  return Finish(ctx, setup, 0, board.port.LastIdentify().portPath, started, board, result, Since(start));
}

// Each port in its own thread with its own board; nothing of one run is shared with another.
std::vector<PortRun> RunMany(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  const size_t n = ctx.ports.size();
  MultiDisplay display(ctx.out, ctx.err, ctx.progressBar, ctx.ports);
  std::vector<std::unique_ptr<Board>> boards;
  for (size_t i = 0; i < n; ++i) {
    boards.push_back(std::make_unique<Board>(
        ctx.ports[i], ctx.wrapSerial, display.Log(i), display.Progress(i),
        [&display, i](const std::string& text) { display.Say(i, text); }, *setup.files));
    boards.back()->onProgramming = [&display, i] { display.Programming(i); };
  }
  std::vector<PortRun> runs(n);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i) {
    const std::string started = UtcNow();
    const auto start = std::chrono::steady_clock::now();
    auto run = [&, i, started, start] {
      display.SetStatus(i, "running");
      const JobResult result = RunJob(job, *boards[i]);
      const double secs = Since(start);
      display.SetStatus(i, result.text);
      runs[i] = Finish(ctx, setup, i, ctx.ports[i], started, *boards[i], result, secs);
    };
    try {
      threads.push_back(ctx.startThread ? ctx.startThread(run) : std::thread(run));
    } catch (const std::system_error& e) {
      // The other boards go on; this one failed before it began.
      boards[i]->Say(std::string("cannot start a thread for this board: ") + e.code().message());
      const JobResult result{kExitThread, "thread not started"};
      display.SetStatus(i, result.text);
      runs[i] = Finish(ctx, setup, i, ctx.ports[i], started, *boards[i], result, 0);
    }
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

// A command that ends before any board is reached; with --json it still leaves a document,
// without ports, so that a script always has one to read.
int StopEarly(const CliContext& ctx, const std::string& verb, int code) {
  if (ctx.json) {
    std::fputs(JsonDocument({verb, ctx.station, nullptr}, {}, code).c_str(), ctx.out);
    std::fflush(ctx.out);
  }
  return code;
}

// Reads the firmware file once, before any port is touched.
bool ReadOnce(const CliContext& ctx, const std::string& file, FirmwareImage& firmware) {
  std::string whyNot;
  if (ReadFirmware(file, firmware, whyNot, ctx.file)) return true;
  std::fprintf(ctx.err, "fennwick-cli: %s\n", whyNot.c_str());
  std::fflush(ctx.err);
  return false;
}

// Intel HEX and raw binaries are examined from the image of their strict reading; S19 (and
// a file of no known format) the examination's own way, over the bytes read.
bool ExaminedFromImage(const FirmwareImage& firmware) {
  return firmware.format() == FirmwareFormat::IntelHex || firmware.format() == FirmwareFormat::Binary;
}

// The examination of the firmware read at the start on a board's port.
Examination MakeExamination(const FirmwareImage& firmware) {
  if (!ExaminedFromImage(firmware)) {
    return [](CMcuPort& port) { port.ExamineFile(kFirmwareName); };
  }
  return [&firmware](CMcuPort& port) { port.ExamineImage(firmware.image().data(), firmware.report.lineCount); };
}

}  // namespace

std::string FlashWindowText() {
  char text[32];
  std::snprintf(text, sizeof text, "0x%X to 0x%X", kFlashBase, kFlashBase + static_cast<uint32_t>(kImageSize) - 1);
  return text;
}

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
    case kExitLogFile: return "log-file-failed";
    case kExitInterrupted: return "interrupted";
    case kExitThread: return "thread-failed";
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
  const RunSetup setup{"identify", {"identify", ctx.station, nullptr}};
  return RunOnBoards(ctx, setup, Identify);
}

int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion) {
  FirmwareImage firmware;
  if (!ReadOnce(ctx, file, firmware)) return StopEarly(ctx, "examine", kExitFile);
  BytesFileSystem files(firmware.bytes);
  const Examination examination = MakeExamination(firmware);
  if (ExaminedFromImage(firmware) && firmware.report.HasProblems()) {
    std::fprintf(ctx.err, "fennwick-cli: %s has problems; `fennwick-cli check %s` lists them\n", file.c_str(),
                 file.c_str());
  }
  const FileFacts facts = FactsOf(file, firmware.report);
  const RunSetup setup{"examine " + file, {"examine", ctx.station, &facts}, &files};
  if (offline) {
    CliContext one = ctx;
    one.ports.clear();
    return RunOnBoards(one, setup, [&](Board& b) { return Examine(b, examination, file, true, mcuVersion); });
  }
  return RunOnBoards(ctx, setup, [&](Board& b) { return Examine(b, examination, file, false, mcuVersion); });
}

int RunProgram(const CliContext& ctx, const std::string& file, bool force) {
  // Read once: the bytes checked here are the bytes every board gets, whatever happens to
  // the file on disk while the boards are identified.
  FirmwareImage firmware;
  if (!ReadOnce(ctx, file, firmware)) return StopEarly(ctx, "program", kExitFile);
  switch (PrecheckFirmware(ctx.err, file, firmware.report, force)) {
    case PrecheckResult::Refused:
      std::fprintf(ctx.err, "fennwick-cli: nothing was sent; --force programs the file all the same\n");
      return StopEarly(ctx, "program", kExitFileProblems);
    case PrecheckResult::TooLong:
      return StopEarly(ctx, "program", kExitFileProblems);
    case PrecheckResult::Clean:
    case PrecheckResult::Forced:
      break;
  }
  BytesFileSystem files(firmware.bytes);
  const Examination examination = MakeExamination(firmware);
  const ImageLoader loader = [&firmware](IFile&, uint8_t* image, uint8_t*) {
    std::memcpy(image, firmware.image().data(), kImageSize);
    LoadStats stats;
    stats.outOfRangeBytes = firmware.report.outOfRangeBytes;
    stats.overlongLines = firmware.report.overlongLines;
    return stats;
  };
  ProgramSettings settings;
  settings.force = force;
  settings.limits.timeoutMs = ctx.blockTimeoutMs;
  settings.limits.maxConsecutiveTimeouts = ctx.maxTimeouts;
  const FileFacts facts = FactsOf(file, firmware.report);
  const RunSetup setup{"program " + file, {"program", ctx.station, &facts}, &files};
  return RunOnBoards(ctx, setup,
                     [&](Board& b) { return Program(b, file, loader, firmware.crc32(), examination, settings); });
}

int RunCheckFile(const CliContext& ctx, const std::string& file) {
  if (!ctx.json) return RunCheck(ctx.out, ctx.err, file, ctx.file);
  FirmwareImage firmware;
  if (!ReadOnce(ctx, file, firmware)) return StopEarly(ctx, "check", kExitFile);
  const FirmwareReport& report = firmware.report;
  const int code = report.ProblemCount() == 0 ? kExitOk : kExitFileProblems;
  std::fputs(CheckJsonDocument(FactsOf(file, report), report, code).c_str(), ctx.out);
  std::fflush(ctx.out);
  return code;
}

}  // namespace fennwick
