#include "link/mcu_port.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/port_name.h"

namespace fennwick {

namespace {
constexpr uint32_t kEventMask = kEvRxChar | kEvRing;

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}
}  // namespace

std::string McuVersionOfReply(std::string_view versionLine) {
  if (versionLine.size() <= 3) return {};
  const std::string_view text = versionLine.substr(3, kVersionSize - 1);
  return std::string(text.substr(0, text.find('\0')));
}

std::string ShownVersion(std::string_view mcuVersion) {
  return mcuVersion.size() > 2 ? WithoutLineEnd(std::string(mcuVersion.substr(2))) : std::string();
}

CMcuPort::CMcuPort(ISerialDevice& serial, IClock& clock) : serial_(serial), clock_(clock) {}

// The port stays open for the life of the process; nothing here closes it.
CMcuPort::~CMcuPort() = default;

void CMcuPort::ReportRange(int32_t high) const {
  if (observer_ != nullptr) observer_->ProgressRange(high);
}

void CMcuPort::ReportPos(int32_t pos) const {
  if (observer_ != nullptr) observer_->ProgressPos(pos);
}

void CMcuPort::Log(const char* format, ...) {
  // Longer output is cut at 1,023 bytes: vsnprintf never writes past the buffer.
  char text[kLogFormatBuffer];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';
  const size_t len = std::strlen(text);
  if (observer_ != nullptr) observer_->LogText(std::string_view(text, len));
  if (len > 0) lineOpen_ = text[len - 1] != '\n';
}

void CMcuPort::LogOwnLine(const std::string& text) { Log("%s%s\r\n", lineOpen_ ? "\r\n" : "", text.c_str()); }

void CMcuPort::CloseOnFailure() {
  serial_.Close(m_hPort);
  m_hPort = kInvalidHandle;
}

void CMcuPort::ClosePort() {
  if (m_hPort != kInvalidHandle) serial_.Close(m_hPort);
  m_hPort = kInvalidHandle;
}

IdentifyOutcome CMcuPort::OpenAndIdentify(const std::u16string& portName) {
  identify_ = IdentifyOutcome{};
  if (OpenAndSetUp(portName)) Identify();
  return identify_;
}

bool CMcuPort::OpenPort(const std::u16string& portName) {
  identify_ = IdentifyOutcome{};
  return OpenAndSetUp(portName);
}

bool CMcuPort::OpenAndSetUp(const std::u16string& portName) {
  identify_.portPath = ResolvePortName(portName, givenPort_);
  m_hPort = serial_.Open(identify_.portPath);
  if (m_hPort == kInvalidHandle) {
    identify_.status = IdentifyOutcome::Status::PortNotOpened;
    identify_.openError = serial_.LastOpenError();
    identify_.portErrno = serial_.LastOpenErrno();
    Log("Open MCU COM port Error!!!\r\n");
    return false;
  }
  serial_.SetupComm(m_hPort, kQueueSize, kQueueSize);
  serial_.Purge(m_hPort, kPurgeTxClear | kPurgeRxClear);
  // The system's reason for a refused setting is the errno value the failed call leaves.
  errno = 0;
  if (!serial_.SetCommMask(m_hPort, kEventMask)) {
    identify_.status = IdentifyOutcome::Status::PortNotSetUp;
    identify_.portErrno = errno;  // before the log line can change it
    Log("SetCommMask error!\r\n");
    CloseOnFailure();
    return false;
  }
  errno = 0;
  if (ConfigurePort(kBaudRate, 8, 0, 0, 0) == 0) {
    identify_.status = IdentifyOutcome::Status::PortNotSetUp;
    identify_.portErrno = errno;
    Log("Set COM baudrate Params error!\r\n");
    CloseOnFailure();
    return false;
  }
  CommTimeouts timeouts;
  timeouts.ReadIntervalTimeout = 0xFFFFFFFFu;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  serial_.SetCommTimeouts(m_hPort, timeouts);
  return true;
}

int CMcuPort::ConfigurePort(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                            int dtrControl) {
  Dcb dcb;
  if (!serial_.GetCommState(m_hPort, dcb)) {
    const int error = errno;  // the log line must not hide the system's reason
    Log("GetCommState error!\r\n");
    errno = error;
    return 0;
  }
  dcb.BaudRate = baudRate;
  dcb.ByteSize = byteSize;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  dcb.fDtrControl = static_cast<uint8_t>(dtrControl & 3);
  if (!serial_.SetCommState(m_hPort, dcb)) {
    const int error = errno;
    Log("SetCommState error!\r\n");
    errno = error;
    return 0;
  }
  return 1;
}

int CMcuPort::WritePort(const uint8_t* data, uint32_t length) {
  if (m_hPort == kInvalidHandle || data == nullptr || length == 0) return -1;
  const uint32_t written = serial_.Write(m_hPort, data, length);
  if (written < length) Log("write error....\r\n");
  return static_cast<int>(written);
}

int CMcuPort::ReadReply(uint32_t timeoutMs, int logChunks, int terminator) {
  uint32_t start = clock_.TickCount();
  serial_.ClearCommError(m_hPort);
  m_reply[0] = '\0';
  uint32_t& held = replyHeld_;
  held = 0;
  replyStopped_ = false;
  // A reply is awaited right after a request, so it is waited for before the first read
  // rather than read for in vain: one call less per block on every board of a gang.
  bool waitFirst = m_hPort != kInvalidHandle && !LineLost() && !StopRequested();
  // Unsigned subtraction keeps the silence right across the tick counter's wrap.
  while (clock_.TickCount() - start <= timeoutMs) {
    const uint32_t room = static_cast<uint32_t>(kReplySize - 1) - held;
    // The pause before the first read is that round's pause: a silent line costs no more
    // than one pause past its time-out.
    const bool waited = std::exchange(waitFirst, false);
    if (waited) serial_.WaitReadable(m_hPort, kPollPauseMs);
    uint32_t got = 0;
    if (!serial_.Read(m_hPort, reinterpret_cast<uint8_t*>(m_reply) + held, room, got)) return 0;
    if (got > room) got = room;  // never trust a driver past the room it was given
    if (got == 0) {
      // A stop request does not wait for a reply that may never come; what has already
      // arrived is still taken.
      if (StopRequested()) {
        replyStopped_ = true;
        return 0;
      }
      // With room left, wake as soon as bytes come; with the buffer full there is nothing
      // to wake for, and the pause must not turn into a spin.
      if (waited) continue;
      if (room > 0) {
        serial_.WaitReadable(m_hPort, kPollPauseMs);
      } else {
        clock_.Sleep(kPollPauseMs);
      }
      continue;
    }
    if (logChunks != 0) {
      m_reply[held + got] = '\0';
      Log("%s", m_reply + held);
    }
    start = clock_.TickCount();
    held += got;
    if (static_cast<uint8_t>(m_reply[held - 1]) == static_cast<uint8_t>(terminator)) {
      m_reply[held] = '\0';
      return 1;
    }
  }
  Log("Response time out\r\n");
  return 0;
}

void CMcuPort::Identify() {
  static const uint8_t kVersionQuery[] = {'$', 'R', '\r', '\n'};
  static const uint8_t kDescriptionQuery[] = {'$', 'e', '\r', '\n'};

  WritePort(kVersionQuery, sizeof kVersionQuery);
  identify_.versionReplied = ReadReply(kQueryTimeoutMs, 0, kLineFeed) == 1;
  identify_.versionTooLong = !identify_.versionReplied && replyHeld_ == kReplySize - 1;
  const bool versionStopped = replyStopped_;
  // m_reply always ends in a NUL at its last index, so the copy is at most 1,020 bytes.
  // The rest is zeroed: the log shows the text from position 2 and the file check compares
  // positions 6 to 8, both past the end of a short reply, and an earlier identification's
  // text must not show through there.
  const size_t len = strnlen(m_reply + 3, kReplySize - 3);
  std::memset(mcuVersion_, 0, kVersionSize);
  std::memcpy(mcuVersion_, m_reply + 3, len);
  // A reply longer than the log line's 1,023 bytes is cut there, line end included.
  Log("========Current MCU Information========\r\nVersion: %s", mcuVersion_ + 2);
  identify_.mcuVersion = mcuVersion_;
  identify_.version = ShownVersion(identify_.mcuVersion);

  WritePort(kDescriptionQuery, sizeof kDescriptionQuery);
  identify_.descriptionReplied = ReadReply(kQueryTimeoutMs, 0, kLineFeed) == 1;
  if (m_reply[1] == '#') {
    Log("No description.\r\n");
  } else {
    Log("%s", m_reply + 3);
    identify_.description = WithoutLineEnd(m_reply + 3);
  }
  identify_.ran = true;
  using Status = IdentifyOutcome::Status;
  if (LineLost()) {
    identify_.status = Status::LineLost;
  } else if (versionStopped || replyStopped_) {
    identify_.status = Status::Interrupted;
  } else if (!identify_.versionTooLong && (!identify_.versionReplied || !identify_.descriptionReplied)) {
    identify_.status = Status::Silent;
  } else {
    identify_.status = Status::Identified;
  }
}

bool CMcuPort::LineLost() const { return m_hPort != kInvalidHandle && serial_.State(m_hPort) == LineState::Lost; }

}  // namespace fennwick
