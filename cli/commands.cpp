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
#include "cli/terminal_console.h"
#include "link/mcu_port.h"

namespace {

const char16_t kPortName[] = u"COM2:";

struct JobResult {
  int code = kExitFailure;
  std::string text;  // short, for the table and the log file
};
using BoardJob = std::function<JobResult(Board&)>;

// What a command hands to its boards besides the job.
struct RunSetup {
  std::string command;                      // for the log file, e.g. "program fw.s19"
  IFileSystem* files = &DefaultFileSystem();  // serves the firmware read at the start
  std::optional<uint32_t> imageCrc32;       // program: the image every board gets
};

// The name under which a board's port asks its file system for the firmware: that file
// system serves the bytes read at the start, whatever the name.
constexpr char16_t kFirmwareName[] = u"firmware";

JobResult Interrupted(Board& board, const std::string& when) {
  board.Say("interrupted " + when);
  return {kExitInterrupted, "interrupted"};
}

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
  if (StopRequested()) return Interrupted(board, "during the identification; nothing was flashed");
  const IdentifyOutcome& id = board.port.LastIdentify();
  if (id.versionTooLong) {
    // It answered; the buffer holds what fits, and the rest of the reply came as the
    // answer to the next query.
    board.Say("the MCU's version reply on " + board.serial.LastOpenPath() +
              " is longer than 1,023 bytes; only its beginning was read");
  }
  if (!id.versionTooLong && (!id.versionReplied || !id.descriptionReplied)) {
    board.Say(std::string("MCU silent: no reply to the ") + (id.versionReplied ? "description" : "version") +
              " query on " + board.serial.LastOpenPath());
    return {kExitSilent, "MCU silent"};
  }
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
              " data bytes lie outside the flash (0x8000 to 0x27FFF) and were not sent");
  }
  if (outcome.load.overlongLines > 0) {
    board.Say("warning: " + std::to_string(outcome.load.overlongLines) +
              " lines longer than 1,024 characters were not loaded");
  }
  if (outcome.status == Status::NullPath || outcome.status == Status::FileNotOpened) {
    board.Say("cannot read " + file);
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
  return ReportProgramming(board, board.port.ProgramMcu(kFirmwareName, loader), file, crc32);
}

// Appends the run's record; a record that could not be written turns a success into
// kExitLogFile, since a production line relies on it.
void WriteRecord(const CliContext& ctx, const std::string& port, const RunSetup& setup, const std::string& started,
                 const Board& board, JobResult& result, double secs) {
  if (!ctx.log) return;
  RunRecord record{started, port, setup.command, board.log(), result.text, result.code, secs, setup.imageCrc32};
  std::string whyNot;
  if (!ctx.log->Append(record, whyNot)) {
    std::fprintf(ctx.err, "fennwick-cli: cannot write the log file %s: %s\n", ctx.log->path().c_str(),
                 whyNot.c_str());
    std::fflush(ctx.err);
    if (result.code == kExitOk) result = {kExitLogFile, "log file not written"};
  }
}

JobResult RunJob(const BoardJob& job, Board& board) {
  // A signal before the board's turn: nothing has been sent.
  if (StopRequested()) return Interrupted(board, "before the run; nothing was sent");
  return job(board);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int RunOne(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
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
  Board board(
      port, ctx.plainPoll, console, console,
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
  WriteRecord(ctx, board.serial.LastOpenPath(), setup, started, board, result, Since(start));
  return result.code;
}

// Each port in its own thread with its own board; nothing of one run is shared with another.
int RunMany(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  const size_t n = ctx.ports.size();
  MultiDisplay display(ctx.out, ctx.err, ctx.progressBar, ctx.ports);
  std::vector<std::unique_ptr<Board>> boards;
  for (size_t i = 0; i < n; ++i) {
    boards.push_back(std::make_unique<Board>(
        ctx.ports[i], ctx.plainPoll, display.Log(i), display.Progress(i),
        [&display, i](const std::string& text) { display.Say(i, text); }, *setup.files));
  }
  std::vector<JobResult> results(n);
  std::vector<double> seconds(n);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i) {
    const std::string started = UtcNow();
    const auto start = std::chrono::steady_clock::now();
    auto run = [&, i, started, start] {
      display.SetStatus(i, "running");
      results[i] = RunJob(job, *boards[i]);
      seconds[i] = Since(start);
      display.SetStatus(i, results[i].text);
      WriteRecord(ctx, ctx.ports[i], setup, started, *boards[i], results[i], seconds[i]);
    };
    try {
      threads.push_back(ctx.startThread ? ctx.startThread(run) : std::thread(run));
    } catch (const std::system_error& e) {
      // The other boards go on; this one failed before it began.
      boards[i]->Say(std::string("cannot start a thread for this board: ") + e.code().message());
      results[i] = {kExitThread, "thread not started"};
      display.SetStatus(i, results[i].text);
      WriteRecord(ctx, ctx.ports[i], setup, started, *boards[i], results[i], 0);
    }
  }
  for (auto& t : threads) t.join();
  display.Finish();

  size_t portWidth = 4, versionWidth = 11;
  for (size_t i = 0; i < n; ++i) {
    portWidth = std::max(portWidth, ctx.ports[i].size());
    versionWidth = std::max(versionWidth, boards[i]->VersionText().size());
  }
  const int pw = static_cast<int>(portWidth), vw = static_cast<int>(versionWidth);
  std::fprintf(ctx.out, "\n%-*s  %-*s  %-22s  %8s\n", pw, "port", vw, "MCU version", "result", "time");
  int code = kExitOk;
  for (size_t i = 0; i < n; ++i) {
    std::fprintf(ctx.out, "%-*s  %-*s  %-22s  %7.1fs\n", pw, ctx.ports[i].c_str(), vw,
                 boards[i]->VersionText().c_str(), results[i].text.c_str(), seconds[i]);
    if (code == kExitOk) code = results[i].code;
  }
  std::fflush(ctx.out);
  return code;
}

int RunOnBoards(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  return ctx.ports.size() > 1 ? RunMany(ctx, setup, job) : RunOne(ctx, setup, job);
}

// Reads the firmware file once, before any port is touched.
bool ReadOnce(const CliContext& ctx, const std::string& file, FirmwareImage& firmware) {
  std::string whyNot;
  if (ReadFirmware(file, firmware, whyNot)) return true;
  std::fprintf(ctx.err, "fennwick-cli: %s\n", whyNot.c_str());
  std::fflush(ctx.err);
  return false;
}

// The examination of the firmware read at the start on a board's port: ExamineFile over
// its bytes for S19; for Intel HEX the report of its strict reading.
Examination MakeExamination(const FirmwareImage& firmware) {
  if (firmware.format() != FirmwareFormat::IntelHex) {
    return [](CMcuPort& port) { port.ExamineFile(kFirmwareName); };
  }
  return [&firmware](CMcuPort& port) { port.ExamineImage(firmware.image().data(), firmware.report.lineCount); };
}

}  // namespace

int RunIdentify(const CliContext& ctx) {
  return RunOnBoards(ctx, RunSetup{"identify", &DefaultFileSystem(), std::nullopt}, Identify);
}

int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion) {
  FirmwareImage firmware;
  if (!ReadOnce(ctx, file, firmware)) return kExitFile;
  BytesFileSystem files(firmware.bytes);
  const Examination examination = MakeExamination(firmware);
  if (firmware.format() == FirmwareFormat::IntelHex && firmware.report.HasProblems()) {
    std::fprintf(ctx.err, "fennwick-cli: %s has problems; `fennwick-cli check %s` lists them\n", file.c_str(),
                 file.c_str());
  }
  const RunSetup setup{"examine " + file, &files, std::nullopt};
  if (offline) {
    CliContext one = ctx;
    one.ports.clear();
    return RunOne(one, setup, [&](Board& b) { return Examine(b, examination, file, true, mcuVersion); });
  }
  return RunOnBoards(ctx, setup, [&](Board& b) { return Examine(b, examination, file, false, mcuVersion); });
}

int RunProgram(const CliContext& ctx, const std::string& file, bool force) {
  // Read once: the bytes checked here are the bytes every board gets, whatever happens to
  // the file on disk while the boards are identified.
  FirmwareImage firmware;
  if (!ReadOnce(ctx, file, firmware)) return kExitFile;
  if (PrecheckFirmware(ctx.err, file, firmware.report, force) == PrecheckResult::Refused) {
    std::fprintf(ctx.err, "fennwick-cli: nothing was sent; --force programs the file all the same\n");
    return kExitFileProblems;
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
  const RunSetup setup{"program " + file, &files, firmware.crc32()};
  return RunOnBoards(ctx, setup,
                     [&](Board& b) { return Program(b, file, loader, firmware.crc32(), examination, settings); });
}

int RunCheckFile(const CliContext& ctx, const std::string& file) { return RunCheck(ctx.out, ctx.err, file); }
