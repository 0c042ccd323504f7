#pragma once
// The serial link to the MCU: the port, its replies, identification, programming and
// file examination.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/examine.h"
#include "firmware/firmware_file.h"
#include "firmware/loaded_firmware.h"
#include "firmware/s19_loader.h"
#include "link/protocol.h"
#include "link/run_events.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/serial_device.h"

namespace fennwick {

// The MCU's version as the examination compares it: a version line as the MCU sends it,
// from its byte 3 on, up to its first NUL and at most kVersionSize - 1 bytes (line end
// included). Empty for a reply of 3 bytes or fewer.
std::string McuVersionOfReply(std::string_view versionLine);
// What the log shows of such a version after "Version: " (from its position 2), without
// the line end.
std::string ShownVersion(std::string_view mcuVersion);

struct IdentifyOutcome {
  enum class Status {
    NotRun,           // no identification yet
    PortNotOpened,    // openError says why
    PortNotSetUp,     // the port opened but refused its event mask or line settings
    LineLost,         // the port vanished while the queries ran
    Interrupted,      // a stop request ended a wait for a reply
    Silent,           // a query got no reply (versionReplied, descriptionReplied tell which)
    Identified,       // both queries were answered (a version reply too long for the buffer included)
  };
  Status status = Status::NotRun;
  bool ran = false;  // the port opened and both queries were sent
  // The system path that the port name resolved to, and when it did not open or could not be set up:
  // why, with the errno value behind it (0 when no system call failed or none is known).
  std::string portPath;
  OpenError openError = OpenError::None;
  int portErrno = 0;
  bool versionReplied = false;
  bool descriptionReplied = false;
  // The version reply filled the reply buffer without its line end: the MCU answered, at
  // length, and the identification went on with what the buffer held.
  bool versionTooLong = false;
  // What the MCU told: its version as the log shows it (after "Version: ", without the line
  // end) and its description (from the reply's byte 3 on, without the line end; empty when
  // it has none).
  std::string version;
  std::string description;
  // The version reply from its byte 3 on, as the examination compares it (McuVersionOfReply).
  std::string mcuVersion;
};

// What a programming run came to. Both front ends report it (ProgramVerdict).
struct ProgramOutcome {
  enum class Status {
    NotRun,          // no run yet
    NoData,          // the image holds not one data byte: nothing sent, not even "$wIAP"
    PortNotOpen,     // the port never opened or was closed: nothing sent
    Refused,         // the MCU answered "$wIAP" with '#'
    FileUnreadable,  // after "$wIAP", before any block: a half-read image is never sent
    Interrupted,     // a stop request: blocksSent blocks went out, no end record
    LineLost,        // the port vanished: blocksSent blocks went out (0: before the first)
    Stalled,         // block replies timed out too many times in a row: no end record
    Flawed,          // every block and the end record went out, but not every exchange was whole
                     // or the MCU refused blocks
    Programmed,      // every block accepted, the end record out of the port (iapReplied may
                     // still be false: a loader may enter IAP mode without a word)
  };
  Status status = Status::NotRun;
  bool iapSent = false;      // "$wIAP" was taken whole by the port
  bool iapReplied = false;   // a reply line to "$wIAP" came
  uint32_t stalledFrom = 0;  // Stalled: the first and the last block of the time-outs in a row
  uint32_t stalledAt = 0;
  uint32_t blockTimeouts = 0;
  uint32_t blocksReplied = 0;  // block packets the MCU answered, refused ones included
  uint32_t blocksAccepted = 0;  // block replies that ended in '.' and did not begin with '#'
  uint32_t blocksRefused = 0;   // block replies that began with '#', whole or not
  uint32_t firstRefused = 0;   // the first of them (0-based), when there is one
  uint32_t shortWrites = 0;  // writes not taken whole, the port not being open included
  int fileErrno = 0;         // FileUnreadable: the errno value (0 when none applies)
  uint32_t blocksSent = 0;   // Interrupted, LineLost: the blocks sent
  LoadStats load;
  bool Succeeded() const { return status == Status::Programmed; }
};

// How long a block's reply may keep silent, and how many replies in a row may time out
// before a run is given up as talking to a dead line (0: never).
struct BlockLimits {
  uint32_t timeoutMs = kBlockTimeoutMs;
  uint32_t maxConsecutiveTimeouts = kMaxConsecutiveTimeouts;
};

// What an examination found.
struct ExamineOutcome {
  enum class Verdict { NotRun, OutOfMemory, NoDescription, Suitable, Unsuitable };
  Verdict verdict = Verdict::NotRun;
  bool readError = false;
  int fileErrno = 0;  // readError: the errno value (0 when none applies)
};

class CMcuPort {
 public:
  // The device and clock are the platform's; tests pass fakes.
  CMcuPort(ISerialDevice& serial, IClock& clock);
  virtual ~CMcuPort();
  CMcuPort(const CMcuPort&) = delete;
  CMcuPort& operator=(const CMcuPort&) = delete;

  // Resolves the port name to the system's path first, then opens that path, sets it up
  // and asks the MCU for its version and description.
  IdentifyOutcome OpenAndIdentify(const std::u16string& portName);
  // Only the opening and set-up, without a word to the MCU, for a caller that speaks to it
  // itself: false after a logged failure, and the port is then not open.
  bool OpenPort(const std::u16string& portName);
  // The port given to the program (--port, else FENNWICK_PORT): what the port name resolves
  // to. None or empty: the name's own device.
  void SetGivenPort(std::optional<std::string> path) { givenPort_ = std::move(path); }
  int ConfigurePort(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits, int dtrControl);
  int WritePort(const uint8_t* data, uint32_t length);
  int ReadReply(uint32_t timeoutMs, int logChunks, int terminator);
  // The jobs on firmware read once (ReadFirmware, LoadFirmware): what is examined and
  // checked is what gets flashed. A gang's boards share one firmware.
  ProgramOutcome ProgramMcu(const LoadedFirmware& firmware);
  // Judges the file against the MCU's version (its reply from byte 3 on: McuVersion(), an
  // identification's mcuVersion, or a version given by hand); bytes past its end count as
  // zero.
  ExamineOutcome ExamineFirmware(const LoadedFirmware& firmware, std::string_view mcuVersion);

  // Where the run's log text and progress go; none (null): nowhere.
  void SetObserver(IRunObserver* observer) { observer_ = observer; }
  void SetBlockLimits(const BlockLimits& limits) { blockLimits_ = limits; }
  const BlockLimits& GetBlockLimits() const { return blockLimits_; }
  // A log line of our own, after the texts of the run: it starts on a line of its own and
  // ends with "\r\n".
  void LogOwnLine(const std::string& text);
  // Asked while a reply is awaited and between blocks of a programming run: true ends the
  // wait at once, and a run stops after the block in flight.
  void SetCancel(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }
  // The port was open and has vanished (a pulled adapter, a hung-up line).
  bool LineLost() const;
  // Closes the port, so that OpenAndIdentify can open it again.
  void ClosePort();
  // The system path that the port name resolved to at the last opening (empty before one).
  const std::string& PortPath() const { return identify_.portPath; }
  // The port has been opened and not closed since (it may have vanished: LineLost).
  bool IsOpen() const { return m_hPort != kInvalidHandle; }
  // The system's handle of the open port, for a caller that asks the device about it.
  int32_t Handle() const { return m_hPort; }
  // The reply buffer: the latest reply from index 0, a NUL behind it when it ended with
  // its terminator; past it what earlier replies left; always a NUL at the last index.
  const char (&ReplyBuffer() const)[kReplySize] { return m_reply; }
  // The lines of the file examined last.
  int32_t LineCount() const { return m_lineCount; }
  // The version text that the last identification kept (its reply from byte 3 on, zeros
  // behind it), and the buffer in which the runs build their packets.
  const char (&McuVersion() const)[kVersionSize] { return mcuVersion_; }
  const uint8_t (&PacketBuffer() const)[kPacketBufferSize] { return packetBuffer_; }
  ISerialDevice& Serial() const { return serial_; }

 private:
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void ReportRange(int32_t high) const;
  void ReportPos(int32_t pos) const;
  void CloseOnFailure();
  // The first half of OpenAndIdentify: false after a failure that identify_ records.
  bool OpenAndSetUp(const std::u16string& portName);
  void Identify();
  ExamineOutcome::Verdict Describe(const DescriptionBlock& block, std::string_view mcuVersion);
  // The examination's report for an image read some other way (Intel HEX, a raw binary).
  ExamineOutcome::Verdict ExamineImage(const uint8_t* flashImage, int32_t lineCount, std::string_view mcuVersion);
  bool IapAnswered(ProgramOutcome& outcome);
  bool StopRequested() const { return cancelled_ && cancelled_(); }
  void ReportLineLost(ProgramOutcome& outcome, uint32_t blocksSent);
  void SendEndRecord(ProgramOutcome& outcome, const std::function<void(const uint8_t*, uint32_t)>& write);

  int32_t m_hPort = 0;
  char m_reply[kReplySize] = {};
  int32_t m_lineCount = 0;
  ISerialDevice& serial_;
  IClock& clock_;
  IRunObserver* observer_ = nullptr;
  // Zero at start; the packet buffer is never cleared, so an end record carries what
  // loading left in it.
  char mcuVersion_[kVersionSize] = {};
  uint8_t packetBuffer_[kPacketBufferSize] = {};
  IdentifyOutcome identify_;
  BlockLimits blockLimits_;
  bool lineOpen_ = false;  // the last text logged did not end its line
  std::function<bool()> cancelled_;
  std::optional<std::string> givenPort_;
  uint32_t replyHeld_ = 0;  // bytes of the latest reply
  bool replyStopped_ = false;  // the latest reply's wait was ended by a stop request
};

// One sentence on how a programming run ended, for the window's log and the command line.
std::string ProgramVerdict(const ProgramOutcome& outcome);
// What a run that succeeded still leaves worth knowing, one sentence each (without a
// "Warning: " of its own); none for a clean run.
std::vector<std::string> ProgramWarnings(const ProgramOutcome& outcome);

}  // namespace fennwick
