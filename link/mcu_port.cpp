#include "link/mcu_port.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "link/log_console.h"

char g_mcuVersion[kVersionSize] = {};

namespace {
constexpr uint32_t kEventMask = kEvRxChar | kEvRing;
}  // namespace

CMcuPort::CMcuPort(ISerialDevice& serial, IClock& clock, IFileSystem& files)
    : m_serial(serial), m_clock(clock), m_files(files) {}

// The port stays open for the life of the process; nothing here closes it.
CMcuPort::~CMcuPort() = default;

ILogEdit* CMcuPort::LogEdit() const { return m_logEdit != nullptr ? m_logEdit : g_logEdit; }
IProgressCtrl* CMcuPort::Progress() const { return m_progressCtrl != nullptr ? m_progressCtrl : g_progressCtrl; }

void CMcuPort::Log(const char* format, ...) {
  // Formatted here rather than in the console, so that the port knows where the line stands.
  char text[kLogFormatBuffer];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';
  LogPrintfTo(LogEdit(), "%s", text);
  if (const size_t len = std::strlen(text); len > 0) m_lineOpen = text[len - 1] != '\n';
}

void CMcuPort::LogOwnLine(const std::string& text) { Log("%s%s\r\n", m_lineOpen ? "\r\n" : "", text.c_str()); }

void CMcuPort::CloseOnFailure() {
  m_serial.Close(m_hPort);
  m_hPort = kInvalidHandle;
}

int CMcuPort::OpenAndIdentify(const std::u16string& portName) {
  m_identify = IdentifyOutcome{};
  m_hPort = m_serial.Open(portName);
  m_identify.portPath = m_serial.LastOpenPath();
  if (m_hPort == kInvalidHandle) {
    m_identify.openError = m_serial.LastOpenError();
    m_identify.portErrno = m_serial.LastOpenErrno();
    Log("Open MCU COM port Error!!!\r\n");
    return -1;
  }
  m_serial.SetupComm(m_hPort, kQueueSize, kQueueSize);
  m_serial.Purge(m_hPort, kPurgeTxClear | kPurgeRxClear);
  if (!m_serial.SetCommMask(m_hPort, kEventMask)) {
    Log("SetCommMask error!\r\n");
    CloseOnFailure();
    return -1;
  }
  if (ConfigurePort(kBaudRate, 8, 0, 0, 0) == 0) {
    Log("Set COM baudrate Params error!\r\n");
    CloseOnFailure();
    return -2;
  }
  CommTimeouts timeouts;
  timeouts.ReadIntervalTimeout = 0xFFFFFFFFu;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  m_serial.SetCommTimeouts(m_hPort, timeouts);
  Identify();
  return 0;
}

int CMcuPort::ConfigurePort(uint32_t baudRate, uint8_t byteSize, uint8_t parity, uint8_t stopBits,
                            int dtrControl) {
  Dcb dcb;
  if (!m_serial.GetCommState(m_hPort, dcb)) {
    Log("GetCommState error!\r\n");
    return 0;
  }
  dcb.BaudRate = baudRate;
  dcb.ByteSize = byteSize;
  dcb.Parity = parity;
  dcb.StopBits = stopBits;
  dcb.fDtrControl = static_cast<uint8_t>(dtrControl & 3);
  if (!m_serial.SetCommState(m_hPort, dcb)) {
    Log("SetCommState error!\r\n");
    return 0;
  }
  return 1;
}

int CMcuPort::WritePort(const uint8_t* data, uint32_t length) {
  if (m_hPort == kInvalidHandle || data == nullptr || length == 0) return -1;
  const uint32_t written = m_serial.Write(m_hPort, data, length);
  if (written < length) Log("write error....\r\n");
  return static_cast<int>(written);
}

int CMcuPort::ReadReply(uint32_t timeoutMs, int logChunks, int terminator) {
  uint32_t start = m_clock.TickCount();
  m_serial.ClearCommError(m_hPort);
  m_reply[0] = '\0';
  uint32_t& held = m_replyHeld;
  held = 0;
  // Unsigned subtraction keeps the silence right across the tick counter's wrap.
  while (m_clock.TickCount() - start <= timeoutMs) {
    const uint32_t room = static_cast<uint32_t>(kReplySize - 1) - held;
    uint32_t got = 0;
    if (!m_serial.Read(m_hPort, reinterpret_cast<uint8_t*>(m_reply) + held, room, got)) return 0;
    if (got > room) got = room;  // never trust a driver past the room it was given
    if (got == 0) {
      // With room left, wake as soon as bytes come; with the buffer full there is nothing
      // to wake for, and the pause must not turn into a spin.
      if (room > 0) {
        m_serial.WaitReadable(m_hPort, kPollPauseMs);
      } else {
        m_clock.Sleep(kPollPauseMs);
      }
      continue;
    }
    if (logChunks != 0) {
      m_reply[held + got] = '\0';
      Log("%s", m_reply + held);
    }
    start = m_clock.TickCount();
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
  m_identify.versionReplied = ReadReply(kQueryTimeoutMs, 0, kLineFeed) == 1;
  m_identify.versionTooLong = !m_identify.versionReplied && m_replyHeld == kReplySize - 1;
  // m_reply always ends in a NUL at its last index, so the copy is at most 1,020 bytes.
  // The rest is zeroed: the log shows the text from position 2 and the file check compares
  // positions 6 to 8, both past the end of a short reply, and an earlier identification's
  // text must not show through there.
  const size_t len = strnlen(m_reply + 3, kReplySize - 3);
  std::memset(m_mcuVersion, 0, kVersionSize);
  std::memcpy(m_mcuVersion, m_reply + 3, len);
  // A reply longer than the log line's 1,023 bytes is cut there, line end included.
  Log("========Current MCU Information========\r\nVersion: %s", m_mcuVersion + 2);

  WritePort(kDescriptionQuery, sizeof kDescriptionQuery);
  m_identify.descriptionReplied = ReadReply(kQueryTimeoutMs, 0, kLineFeed) == 1;
  if (m_reply[1] == '#') {
    Log("No description.\r\n");
  } else {
    Log("%s", m_reply + 3);
  }
  m_identify.ran = true;
  m_identify.lineLost = LineLost();
}

bool CMcuPort::LineLost() const { return m_hPort != kInvalidHandle && m_serial.State(m_hPort) == LineState::Lost; }
