#include "cli/run/jobs.h"

#include <cstdio>
#include <cstring>

#include "cli/records/interrupt.h"
#include "cli/records/run_report.h"
#include "firmware/firmware_file.h"

namespace fennwick {

namespace {

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

// ": " and the system's reason for `error`; nothing when there is none.
std::string Reason(int error) { return error != 0 ? std::string(": ") + std::strerror(error) : std::string(); }

// Why the port did not open, in words a person can act on.
JobResult ExplainOpenFailure(Board& board, const IdentifyOutcome& id) {
  const std::string& path = id.portPath;
  switch (id.openError) {
    case OpenError::NoSuchDevice:
      board.Say("no such device: " + path + " (give the port with --port PATH)");
      return {JobEnd::PortNotOpened, "no such device"};
    case OpenError::PermissionDenied:
      board.Say("permission denied: " + path +
                " (add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again)");
      return {JobEnd::PortNotOpened, "permission denied"};
    case OpenError::Busy:
      board.Say("busy: " + path + " is in use by another program");
      return {JobEnd::PortNotOpened, "port busy"};
    case OpenError::NotSerial:
      board.Say("not a serial device: " + path);
      return {JobEnd::PortNotOpened, "not a serial device"};
    case OpenError::ControllingTerminal:
      board.Say("not a port for an MCU: " + path + " is this program's own terminal");
      return {JobEnd::PortNotOpened, "own terminal"};
    case OpenError::StandardStream:
      board.Say("not a port for an MCU: " + path + " is this program's standard input, output or error");
      return {JobEnd::PortNotOpened, "standard stream"};
    case OpenError::Other:
    case OpenError::None:
      break;
  }
  board.Say("cannot open the serial port " + path + Reason(id.portErrno));
  return {JobEnd::PortNotOpened, "port not opened"};
}

// What the examination found, as how the job ends.
JobResult JudgeExamination(Board& board, const ExamineOutcome& result, const std::string& file) {
  board.verdict = result.verdict;
  if (result.readError) {
    board.Say("read error in " + file + Reason(result.fileErrno));
    return {JobEnd::FileUnreadable, "file not readable"};
  }
  switch (result.verdict) {
    case ExamineOutcome::Verdict::NotRun:
      board.Say("cannot read " + file + Reason(result.fileErrno));
      return {JobEnd::FileUnreadable, "file not readable"};
    case ExamineOutcome::Verdict::OutOfMemory:
      board.Say("out of memory");
      return {JobEnd::OutOfMemory, "out of memory"};
    case ExamineOutcome::Verdict::NoDescription:
      board.Say(file + " has no description block");
      return {JobEnd::NoDescription, "no description"};
    case ExamineOutcome::Verdict::Unsuitable:
      board.Say(file + " does not suit the MCU attached");
      return {JobEnd::Unsuitable, "unsuitable"};
    case ExamineOutcome::Verdict::Suitable:
      break;
  }
  return {JobEnd::Suitable, "suitable"};
}

// Before the IAP request: a silent MCU, or a file that does not suit the MCU or carries
// no description, gets nothing unless the operator insisted. Ends Suitable or Forced to go on.
JobResult VetBeforeProgramming(Board& board, const JobResult& identified, const LoadedFirmware& firmware,
                               const std::string& file, bool force) {
  const char* const kNothingSent = "nothing was sent; --force programs it all the same";
  if (identified.end == JobEnd::Silent) {
    if (!force) {
      board.Say(kNothingSent);
      return identified;
    }
    board.Say("warning: programming a silent MCU anyway (--force)");
  }
  // It judges only: its texts are `examine`'s (and the window's Open's).
  board.Quiet(true);
  const ExamineOutcome examined = board.port.ExamineFirmware(firmware, board.McuVersion());
  board.Quiet(false);
  const JobResult judged = JudgeExamination(board, examined, file);
  if (judged.end == JobEnd::Unsuitable || judged.end == JobEnd::NoDescription) {
    if (!force) {
      board.Say(kNothingSent + std::string(" (`fennwick-cli examine ") + file + "` shows the description)");
      return judged;
    }
    board.Say("warning: programming it anyway (--force)");
    return {JobEnd::Forced, "forced"};
  }
  return judged;
}

// How the run ended, with the verdict that the window logs.
JobResult ReportProgramming(Board& board, const ProgramOutcome& outcome, const std::string& file, uint32_t crc32) {
  using Status = ProgramOutcome::Status;
  if (outcome.load.outOfRangeBytes > 0) {
    const size_t n = outcome.load.outOfRangeBytes;
    board.Say("warning: " + CountOf(n, "data byte lies", "data bytes lie") + " outside the flash (" +
              FlashWindowText() + ") and " + (n == 1 ? "was" : "were") + " not sent");
  }
  if (outcome.load.overlongLines > 0) {
    const size_t n = outcome.load.overlongLines;
    board.Say("warning: " + CountOf(n, "line", "lines") + " longer than " + WithCommas(kPacketBufferSize) +
              " characters " + (n == 1 ? "was" : "were") + " not loaded");
  }
  board.Say(ProgramVerdict(outcome));
  switch (outcome.status) {
    case Status::NotRun:
    case Status::FileUnreadable:
      board.Say("cannot read " + file + Reason(outcome.fileErrno));
      return {JobEnd::FileUnreadable, "file not readable"};
    case Status::NoData:
      return {JobEnd::NoData, "no data"};
    case Status::PortNotOpen:
      return {JobEnd::PortNotOpen, "port not open"};
    case Status::Refused:
      return {JobEnd::Refused, "IAP refused"};
    case Status::Interrupted:
      return {JobEnd::Interrupted, "interrupted after block " + std::to_string(outcome.blocksSent)};
    case Status::LineLost:
      board.Say("the port " + board.port.PortPath() + " was lost during the run");
      return {JobEnd::LineLost, "port lost"};
    case Status::Stalled:
      return {JobEnd::Stalled, "stopped: no replies"};
    case Status::Flawed:
      if (outcome.blocksRefused > 0) {
        return {JobEnd::Flawed, CountOf(outcome.blocksRefused, "block", "blocks") + " refused (the first: block " +
                                     std::to_string(outcome.firstRefused) + ")"};
      }
      return {JobEnd::Flawed, outcome.blockTimeouts > 0
                                  ? CountOf(outcome.blockTimeouts, "reply", "replies") + " timed out"
                                  : std::string("incomplete")};
    case Status::Programmed:
      break;
  }
  JobResult done{JobEnd::Programmed, "programmed"};
  for (const std::string& warning : ProgramWarnings(outcome)) {
    board.Say("warning: " + warning);
    done.warnings.push_back(warning);
  }
  board.Say("flashed " + file + ", image crc32 " + Crc32Text(crc32));
  return done;
}

// Blocks went out: the run reached them.
bool BlocksWentOut(const ProgramOutcome& outcome) {
  using Status = ProgramOutcome::Status;
  switch (outcome.status) {
    case Status::NotRun:
    case Status::NoData:
    case Status::PortNotOpen:
    case Status::Refused:
    case Status::FileUnreadable:
      return false;
    case Status::Interrupted:
    case Status::LineLost:
      return outcome.blocksSent > 0;
    case Status::Stalled:
    case Status::Flawed:
    case Status::Programmed:
      return true;
  }
  return false;
}

}  // namespace

std::string FlashWindowText() {
  char text[32];
  std::snprintf(text, sizeof text, "0x%X to 0x%X", kFlashBase, kFlashLast);
  return text;
}

JobResult Interrupted(Board& board, const std::string& when) {
  board.Say("interrupted " + when);
  return {JobEnd::Interrupted, "interrupted"};
}

JobResult Identify(Board& board) {
  // A stop request ends the identification's waits too.
  board.port.SetCancel(StopRequested);
  const IdentifyOutcome id = board.port.OpenAndIdentify(kMcuPortName);
  switch (id.status) {
    case IdentifyOutcome::Status::NotRun:
    case IdentifyOutcome::Status::PortNotOpened:
      return ExplainOpenFailure(board, id);
    case IdentifyOutcome::Status::PortNotSetUp:
      board.Say("the serial port " + id.portPath + " refused its settings" + Reason(id.portErrno));
      return {JobEnd::PortNotSetUp, "port not set up"};
    case IdentifyOutcome::Status::LineLost:
      // A port that vanished (a pulled adapter, a hung-up line) is not a silent MCU, and
      // nothing more can be sent on it.
      board.Say("the port " + id.portPath + " was lost during the identification");
      return {JobEnd::LineLost, "port lost"};
    case IdentifyOutcome::Status::Interrupted:
      return Interrupted(board, "during the identification; nothing was flashed");
    case IdentifyOutcome::Status::Silent:
    case IdentifyOutcome::Status::Identified:
      break;
  }
  if (StopRequested()) return Interrupted(board, "during the identification; nothing was flashed");
  if (id.status == IdentifyOutcome::Status::Silent) {
    board.Say(std::string("MCU silent: no reply to the ") + (id.versionReplied ? "description" : "version") +
              " query on " + id.portPath);
    return {JobEnd::Silent, "MCU silent"};
  }
  if (id.versionTooLong) {
    // It answered; the buffer holds what fits, and the rest of the reply came as the
    // answer to the next query.
    board.Say("the MCU's version reply on " + id.portPath + " is longer than " + WithCommas(kReplySize - 1) +
              " bytes; only its beginning was read");
  }
  board.description = id.description;
  return {JobEnd::Identified, "ok"};
}

JobResult Examine(Board& board, const LoadedFirmware& firmware, const std::string& file, bool offline,
                  const std::string& mcuVersion) {
  JobResult identified{JobEnd::Identified, "ok"};
  if (offline) {
    // The version line as the MCU would send it.
    board.givenVersion = McuVersionOfReply(mcuVersion);
  } else {
    identified = Identify(board);
    if (identified.end == JobEnd::PortNotOpened || identified.end == JobEnd::PortNotSetUp ||
        identified.end == JobEnd::Interrupted) {
      return identified;
    }
  }
  const JobResult judged = JudgeExamination(board, board.port.ExamineFirmware(firmware, board.McuVersion()), file);
  if (judged.end == JobEnd::FileUnreadable || judged.end == JobEnd::OutOfMemory) return judged;
  return identified.end != JobEnd::Identified ? identified : judged;
}

JobResult Program(Board& board, const LoadedFirmware& firmware, const std::string& file,
                  const ProgramSettings& settings) {
  const JobResult identified = Identify(board);
  if (identified.end == JobEnd::PortNotOpened || identified.end == JobEnd::PortNotSetUp ||
      identified.end == JobEnd::LineLost || identified.end == JobEnd::Interrupted) {
    return identified;
  }
  const JobResult vetted = VetBeforeProgramming(board, identified, firmware, file, settings.force);
  if (vetted.end != JobEnd::Suitable && vetted.end != JobEnd::Forced) return vetted;
  if (settings.dryRun) {
    board.Say("dry run: the MCU would be programmed now; nothing was sent");
    return {JobEnd::DryRun, "dry run"};
  }
  board.port.SetBlockLimits(settings.limits);
  if (board.onProgramming) board.onProgramming();
  const ProgramOutcome outcome = board.port.ProgramMcu(firmware);
  JobResult result = ReportProgramming(board, outcome, file, firmware.crc32());
  result.programmed = BlocksWentOut(outcome);
  result.blocksAccepted = outcome.blocksAccepted;
  result.timeouts = outcome.blockTimeouts;
  result.blocksRefused = outcome.blocksRefused;
  return result;
}

JobResult RunJob(const BoardJob& job, Board& board) {
  // A signal before the board's turn: nothing has been sent.
  if (StopRequested()) return Interrupted(board, "before the run; nothing was sent");
  return job(board);
}

namespace {

// The verdict of the examination that examine and program run on the board's port; none
// when there was no MCU version to judge against.
std::string VerdictWord(const Board& board) {
  if (board.McuVersion().empty()) return {};
  switch (board.verdict) {
    case ExamineOutcome::Verdict::Suitable: return "suitable";
    case ExamineOutcome::Verdict::Unsuitable: return "unsuitable";
    case ExamineOutcome::Verdict::NoDescription: return "no-description";
    case ExamineOutcome::Verdict::NotRun:
    case ExamineOutcome::Verdict::OutOfMemory: return {};
  }
  return {};
}

}  // namespace

RunRecord JobRecord(const Board& board, const std::string& port, const JobResult& result, double secs) {
  RunRecord run;
  run.port = port;
  run.mcuVersion = board.VersionText();
  run.mcuDescription = board.description;
  while (!run.mcuDescription.empty() && (run.mcuDescription.back() == '\n' || run.mcuDescription.back() == '\r')) {
    run.mcuDescription.pop_back();
  }
  run.verdict = VerdictWord(board);
  run.exitCode = result.code();
  run.result = result.text;
  run.programmed = result.programmed;
  run.blocksAccepted = result.blocksAccepted;
  run.timeouts = result.timeouts;
  run.blocksRefused = result.blocksRefused;
  run.warnings = result.warnings;
  run.seconds = secs;
  run.log = board.log();
  return run;
}

}  // namespace fennwick
