#include "cli/commands.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/terminal_console.h"
#include "link/mcu_port.h"
#include "platform/posix_serial.h"
#include "platform/text.h"

namespace {

const char16_t kPortName[] = u"COM2:";

// The device's pause as the original platform had it: a plain sleep, deaf to arriving bytes.
class PlainPollSerial final : public ISerialDevice {
 public:
  explicit PlainPollSerial(ISerialDevice& inner) : inner_(inner) {}
  int32_t Open(const std::u16string& name) override { return inner_.Open(name); }
  bool SetupComm(int32_t h, uint32_t rx, uint32_t tx) override { return inner_.SetupComm(h, rx, tx); }
  bool Purge(int32_t h, uint32_t flags) override { return inner_.Purge(h, flags); }
  bool SetCommMask(int32_t h, uint32_t mask) override { return inner_.SetCommMask(h, mask); }
  bool GetCommState(int32_t h, Dcb& dcb) override { return inner_.GetCommState(h, dcb); }
  bool SetCommState(int32_t h, const Dcb& dcb) override { return inner_.SetCommState(h, dcb); }
  bool SetCommTimeouts(int32_t h, const CommTimeouts& t) override { return inner_.SetCommTimeouts(h, t); }
  void ClearCommError(int32_t h) override { inner_.ClearCommError(h); }
  bool Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) override { return inner_.Read(h, buf, max, got); }
  void WaitReadable(int32_t, uint32_t maxMs) override { DefaultClock().Sleep(maxMs); }
  uint32_t Write(int32_t h, const uint8_t* data, uint32_t len) override { return inner_.Write(h, data, len); }
  void Close(int32_t h) override { inner_.Close(h); }
  OpenError LastOpenError() const override { return inner_.LastOpenError(); }
  std::string LastOpenPath() const override { return inner_.LastOpenPath(); }
  LineState State(int32_t h) const override { return inner_.State(h); }

 private:
  ISerialDevice& inner_;
};

// Everything one board needs: its device, port object, console and buffers.
struct Board {
  explicit Board(const CliContext& ctx)
      : serial(ctx.port),
        plain(serial),
        port(ctx.plainPoll ? static_cast<ISerialDevice&>(plain) : serial, DefaultClock()),
        console(ctx.out, ctx.err, ctx.progressBar, ctx.sameScreen) {
    port.SetConsole(&console, &console);
    port.SetBuffers(version, packet);
  }
  PosixSerialDevice serial;
  PlainPollSerial plain;
  CMcuPort port;
  TerminalConsole console;
  char version[kVersionSize] = {};
  uint8_t packet[kPacketBufferSize] = {};
};

void Say(const CliContext& ctx, const std::string& text) {
  std::fprintf(ctx.err, "fennwick-cli: %s\n", text.c_str());
  std::fflush(ctx.err);
}

// Why the port did not open, in words a person can act on.
int ExplainOpenFailure(const CliContext& ctx, Board& board) {
  const std::string path = board.serial.LastOpenPath();
  switch (board.serial.LastOpenError()) {
    case OpenError::NoSuchDevice:
      Say(ctx, "no such device: " + path + " (give the port with --port PATH)");
      break;
    case OpenError::PermissionDenied:
      Say(ctx, "permission denied: " + path +
                   " (add your user to the dialout group: sudo usermod -aG dialout $USER, then log in again)");
      break;
    case OpenError::Busy:
      Say(ctx, "busy: " + path + " is in use by another program");
      break;
    case OpenError::NotSerial:
      Say(ctx, "not a serial device: " + path);
      break;
    case OpenError::Other:
    case OpenError::None:
      Say(ctx, "cannot set up the serial port " + path);
      break;
  }
  return kExitPort;
}

// Opens and identifies as the window does at its start. Returns 0, or the exit code of
// what went wrong.
int Identify(const CliContext& ctx, Board& board) {
  const int opened = board.port.OpenAndIdentify(kPortName);
  if (opened == -2) {
    Say(ctx, "the serial port " + board.serial.LastOpenPath() + " refused its line settings");
    return kExitPort;
  }
  if (opened != 0) return ExplainOpenFailure(ctx, board);
  const IdentifyOutcome& id = board.port.LastIdentify();
  if (!id.versionReplied || !id.descriptionReplied) {
    Say(ctx, std::string("MCU silent: no reply to the ") + (id.versionReplied ? "description" : "version") +
                 " query on " + board.serial.LastOpenPath());
    return kExitSilent;
  }
  return kExitOk;
}

bool ToPath(const CliContext& ctx, const std::string& file, std::u16string& path) {
  if (!Utf8ToUtf16(file, path) || path.empty()) {
    Say(ctx, "cannot use the file name " + file);
    return false;
  }
  return true;
}

// The reason a file cannot be read, from the system.
std::string FileProblem(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  return "read error";
}

// The log's last line has no line end of its own; on a terminal the prompt should not
// follow it on the same line, while a pipe gets the log text exactly.
void EndLogLine(const CliContext& ctx) {
  if (::isatty(fileno(ctx.out))) std::fputs("\n", ctx.out);
  std::fflush(ctx.out);
}

}  // namespace

int RunIdentify(const CliContext& ctx) {
  Board board(ctx);
  const int rc = Identify(ctx, board);
  board.console.Finish();
  return rc;
}

int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion) {
  std::u16string path;
  if (!ToPath(ctx, file, path)) return kExitFile;
  Board board(ctx);
  int identified = kExitOk;
  if (offline) {
    // The version line as the MCU would send it: its text from byte 3 on is compared.
    const std::string text = mcuVersion.size() > 3 ? mcuVersion.substr(3, kVersionSize - 1) : std::string();
    std::memcpy(board.version, text.data(), text.size());
  } else {
    identified = Identify(ctx, board);
    if (identified == kExitPort) {
      board.console.Finish();
      return identified;
    }
  }
  board.port.ExamineFile(path.c_str());
  board.console.Finish();
  EndLogLine(ctx);
  const ExamineOutcome& result = board.port.LastExamine();
  switch (result.verdict) {
    case ExamineOutcome::Verdict::FileNotOpened:
      Say(ctx, "cannot read " + file + ": " + FileProblem(file));
      return kExitFile;
    case ExamineOutcome::Verdict::OutOfMemory:
      Say(ctx, "out of memory");
      return kExitFailure;
    default:
      break;
  }
  if (result.readError) {
    Say(ctx, "read error in " + file);
    return kExitFile;
  }
  if (identified != kExitOk) return identified;
  switch (result.verdict) {
    case ExamineOutcome::Verdict::NoDescription:
      Say(ctx, file + " has no description block");
      return kExitNoDescription;
    case ExamineOutcome::Verdict::Unsuitable:
      Say(ctx, file + " does not suit the MCU attached");
      return kExitUnsuitable;
    case ExamineOutcome::Verdict::Suitable:
      return kExitOk;
    default:
      return kExitFailure;
  }
}

int RunProgram(const CliContext& ctx, const std::string& file) {
  std::u16string path;
  if (!ToPath(ctx, file, path)) return kExitFile;
  Board board(ctx);
  const int identified = Identify(ctx, board);
  if (identified == kExitPort) {
    board.console.Finish();
    return identified;
  }
  const ProgramOutcome outcome = board.port.ProgramMcu(path.c_str());
  board.console.Finish();
  EndLogLine(ctx);
  using Status = ProgramOutcome::Status;
  if (outcome.load.outOfRangeBytes > 0) {
    Say(ctx, "warning: " + std::to_string(outcome.load.outOfRangeBytes) +
                 " data bytes lie outside the flash (0x8000 to 0x27FFF) and were not sent");
  }
  if (outcome.load.overlongLines > 0) {
    Say(ctx, "warning: " + std::to_string(outcome.load.overlongLines) +
                 " lines longer than 1,024 characters were not loaded");
  }
  switch (outcome.status) {
    case Status::NullPath:
    case Status::FileNotOpened:
      Say(ctx, "cannot read " + file + ": " + FileProblem(file));
      return kExitFile;
    case Status::FileUnreadable:
      Say(ctx, "read error in " + file + "; nothing was flashed");
      return kExitFile;
    case Status::Refused:
      Say(ctx, "the MCU refused IAP mode");
      return kExitRefused;
    case Status::OutOfMemory:
      Say(ctx, "out of memory");
      return kExitFailure;
    case Status::NotRun:
      return kExitFailure;
    case Status::Completed:
      break;
  }
  if (outcome.lineLost) {
    Say(ctx, "the port " + board.serial.LastOpenPath() + " was lost during the run; the flash is incomplete");
    return kExitPortLost;
  }
  if (!outcome.iapReplied) {
    Say(ctx, "no reply to the IAP request");
  }
  if (outcome.blockTimeouts > 0) {
    Say(ctx, std::to_string(outcome.blockTimeouts) + " of 1024 block replies timed out");
  }
  if (outcome.shortWrites > 0) {
    Say(ctx, std::to_string(outcome.shortWrites) + " writes were not taken whole");
  }
  if (!outcome.Succeeded()) return kExitIncomplete;
  Say(ctx, "programmed 1024 blocks from " + file);
  return kExitOk;
}
