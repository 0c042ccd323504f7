#include "platform/posix_serial.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <mutex>

#include "platform/text.h"

namespace fennwick {

namespace {

struct BaudEntry {
  uint32_t rate;
  speed_t code;
};
constexpr BaudEntry kBauds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600}, {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool BaudCode(uint32_t rate, speed_t& code) {
  for (const auto& b : kBauds) {
    if (b.rate == rate) {
      code = b.code;
      return true;
    }
  }
  return false;
}

uint32_t BaudRate(speed_t code) {
  for (const auto& b : kBauds) {
    if (b.code == code) return b.rate;
  }
  return 0;
}

using SteadyClock = std::chrono::steady_clock;

int RemainingMs(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

bool LineGone(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

// The settings found at each opening, where a signal handler can reach them without a
// lock: a slot's settings are written before its descriptor is published, and a chunk is
// linked in only once it is filled in. Chunks are added as more ports are open at once and
// never freed, so a handler never meets memory that goes away.
constexpr int kFree = -1;
struct SavedSettings {
  std::atomic<int> fd{kFree};
  termios settings{};
  bool lowLatencySet = false;
};
struct SavedChunk {
  SavedSettings slots[64];
  std::atomic<SavedChunk*> next{nullptr};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<SavedChunk*>::is_always_lock_free);
SavedChunk g_saved;
// Between the threads that open and close ports; a signal handler takes no lock.
std::mutex g_savedWriters;

void Remember(int fd, const termios& settings, bool lowLatencySet) {
  std::lock_guard lock(g_savedWriters);
  SavedChunk* chunk = &g_saved;
  for (;;) {
    for (SavedSettings& slot : chunk->slots) {
      if (slot.fd.load() != kFree) continue;
      slot.settings = settings;
      slot.lowLatencySet = lowLatencySet;
      slot.fd.store(fd);
      return;
    }
    SavedChunk* next = chunk->next.load();
    if (next == nullptr) break;
    chunk = next;
  }
  auto* added = new SavedChunk;
  added->slots[0].settings = settings;
  added->slots[0].lowLatencySet = lowLatencySet;
  added->slots[0].fd.store(fd);
  chunk->next.store(added);
}

void Forget(int fd) {
  std::lock_guard lock(g_savedWriters);
  for (SavedChunk* chunk = &g_saved; chunk != nullptr; chunk = chunk->next.load()) {
    for (SavedSettings& slot : chunk->slots) {
      if (slot.fd.load() != fd) continue;
      slot.fd.store(kFree);
      return;
    }
  }
}

// A USB adapter holds what it receives for its latency timer (16 ms by default) before it
// passes it on, which costs every one-byte block reply that long. Returns whether the flag
// was switched on here, so that the close switches it off again; drivers without it (a
// pseudo-terminal) refuse the request, and the port works as before.
bool AskLowLatency(int fd) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY) != 0) return false;
  serial.flags |= ASYNC_LOW_LATENCY;
  return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
}

// Only system calls: also runs in a signal handler.
void DropLowLatency(int fd) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return;
  serial.flags &= ~ASYNC_LOW_LATENCY;
  ::ioctl(fd, TIOCSSERIAL, &serial);
}

// A port that is also our standard input, output or error would take the log and the
// progress display as bytes for the MCU, between the blocks.
bool IsStandardStream(int fd) {
  struct stat port {};
  if (::fstat(fd, &port) != 0 || !S_ISCHR(port.st_mode)) return false;
  for (int std = 0; std <= 2; ++std) {
    struct stat s {};
    if (::fstat(std, &s) == 0 && S_ISCHR(s.st_mode) && s.st_rdev == port.st_rdev) return true;
  }
  return false;
}

// The exclusive-use flag stays on the terminal after the close: a pseudo-terminal would
// tell the next user's run that it is busy.
void Unclaim(int fd) { ::ioctl(fd, TIOCNXCL); }

// Opens and claims the line at `path` and makes it raw; `original` receives the settings
// found there. On failure `errnoValue` holds the errno value behind it, 0 when none.
int OpenLine(const std::string& path, termios& original, bool& lowLatencySet, OpenError& error, int& errnoValue) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    errnoValue = errno;
    switch (errnoValue) {
      case ENOENT:
      case ENODEV:
      case ENXIO:
      case ENOTDIR:
        error = OpenError::NoSuchDevice;
        break;
      case EACCES:
      case EPERM:
        error = OpenError::PermissionDenied;
        break;
      case EBUSY:
        error = OpenError::Busy;
        break;
      default:
        error = OpenError::Other;
    }
    return kInvalidHandle;
  }
  termios tio{};
  if (!::isatty(fd) || ::tcgetattr(fd, &tio) != 0) {
    errnoValue = errno;
    ::close(fd);
    error = OpenError::NotSerial;
    return kInvalidHandle;
  }
  // Our own terminal (/dev/tty or its real name) is where the person typing sits: the
  // queries would go to their screen and the line settings stay with their shell.
  if (pid_t session = 0; ::ioctl(fd, TIOCGSID, &session) == 0 && session == ::getsid(0)) {
    ::close(fd);
    error = OpenError::ControllingTerminal;
    return kInvalidHandle;
  }
  if (IsStandardStream(fd)) {
    ::close(fd);
    error = OpenError::StandardStream;
    return kInvalidHandle;
  }
  original = tio;
  // The advisory lock holds against root too, where TIOCEXCL does not.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    errnoValue = errno;
    ::close(fd);
    error = OpenError::Busy;
    return kInvalidHandle;
  }
  ::ioctl(fd, TIOCEXCL);
  // Raw 8-bit line: no echo, no CR/LF translation, no software or hardware flow control,
  // and reads that return at once with what has arrived.
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~CRTSCTS;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, B19200);
  ::cfsetospeed(&tio, B19200);
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
    errnoValue = errno;
    Unclaim(fd);
    ::close(fd);
    error = OpenError::NotSerial;
    return kInvalidHandle;
  }
  lowLatencySet = AskLowLatency(fd);
  return fd;
}

}  // namespace

void RestoreOpenPortsNow() {
  for (SavedChunk* chunk = &g_saved; chunk != nullptr; chunk = chunk->next.load()) {
    for (SavedSettings& slot : chunk->slots) {
      const int fd = slot.fd.load();
      if (fd < 0) continue;
      ::tcsetattr(fd, TCSANOW, &slot.settings);
      if (slot.lowLatencySet) DropLowLatency(fd);
      Unclaim(fd);
    }
  }
}

std::optional<std::string> PortFromEnvironment() {
  if (const char* env = std::getenv("FENNWICK_PORT")) return std::string(env);
  return std::nullopt;
}

PosixSerialDevice::PosixSerialDevice(std::optional<std::string> overridePath) : override_(std::move(overridePath)) {}

void PosixSerialDevice::SetOverride(std::optional<std::string> overridePath) {
  std::lock_guard lock(mu_);
  override_ = std::move(overridePath);
}

PosixSerialDevice::~PosixSerialDevice() {
  for (const auto& [fd, port] : ports_) Release(fd, port);
}

void PosixSerialDevice::Release(int fd, const Port& port) {
  Forget(fd);
  // The line is left as it was found. Bytes still on their way go out at our settings
  // first; a lost line takes nothing more.
  if (!port.lost) {
    ::tcsetattr(fd, TCSADRAIN, &port.original);
    if (port.lowLatencySet) DropLowLatency(fd);
  }
  Unclaim(fd);
  ::close(fd);
}

std::string PosixSerialDevice::MapPortName(std::u16string_view name, const std::optional<std::string>& overridePath) {
  if (overridePath && !overridePath->empty()) return *overridePath;
  std::string utf8;
  if (!Utf16ToUtf8(name, utf8)) return {};
  // "COMn:" (any case, the colon optional) is the n-th 16550-style port.
  if (utf8.size() >= 4 && (utf8[0] == 'C' || utf8[0] == 'c') && (utf8[1] == 'O' || utf8[1] == 'o') &&
      (utf8[2] == 'M' || utf8[2] == 'm')) {
    std::string digits = utf8.substr(3);
    if (!digits.empty() && digits.back() == ':') digits.pop_back();
    bool numeric = !digits.empty() && digits.size() <= 3;
    for (char c : digits) numeric = numeric && c >= '0' && c <= '9';
    if (numeric) {
      const int n = std::atoi(digits.c_str());
      if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
  }
  return utf8;
}

int32_t PosixSerialDevice::Open(const std::u16string& name) {
  std::string path;
  {
    std::lock_guard lock(mu_);
    path = MapPortName(name, override_);
  }
  termios original{};
  bool lowLatencySet = false;
  OpenError error = OpenError::None;
  int errnoValue = 0;
  int fd = kInvalidHandle;
  if (path.empty()) {
    error = OpenError::NoSuchDevice;
  } else {
    fd = OpenLine(path, original, lowLatencySet, error, errnoValue);
  }
  std::lock_guard lock(mu_);
  lastPath_ = path;
  lastError_ = error;
  lastErrno_ = errnoValue;
  if (fd != kInvalidHandle) {
    Port port;
    port.original = original;
    port.lowLatencySet = lowLatencySet;
    ports_[fd] = port;
    Remember(fd, original, lowLatencySet);
  }
  return fd;
}

OpenError PosixSerialDevice::LastOpenError() const {
  std::lock_guard lock(mu_);
  return lastError_;
}

int PosixSerialDevice::LastOpenErrno() const {
  std::lock_guard lock(mu_);
  return lastErrno_;
}

std::string PosixSerialDevice::LastOpenPath() const {
  std::lock_guard lock(mu_);
  return lastPath_;
}

bool PosixSerialDevice::Known(int32_t h) const {
  std::lock_guard lock(mu_);
  return ports_.count(h) != 0;
}

void PosixSerialDevice::MarkLost(int32_t h) {
  std::lock_guard lock(mu_);
  if (auto it = ports_.find(h); it != ports_.end()) it->second.lost = true;
}

LineState PosixSerialDevice::State(int32_t h) const {
  std::lock_guard lock(mu_);
  auto it = ports_.find(h);
  return it != ports_.end() && !it->second.lost ? LineState::Ok : LineState::Lost;
}

bool PosixSerialDevice::SetupComm(int32_t h, uint32_t, uint32_t) { return Known(h); }

bool PosixSerialDevice::Purge(int32_t h, uint32_t flags) {
  if (!Known(h)) return false;
  const bool tx = (flags & kPurgeTxClear) != 0;
  const bool rx = (flags & kPurgeRxClear) != 0;
  if (!tx && !rx) return true;
  return ::tcflush(h, tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH)) == 0;
}

bool PosixSerialDevice::SetCommMask(int32_t h, uint32_t) { return Known(h); }

bool PosixSerialDevice::GetCommState(int32_t h, Dcb& dcb) {
  if (!Known(h)) return false;
  termios tio{};
  if (::tcgetattr(h, &tio) != 0) return false;
  dcb.BaudRate = BaudRate(::cfgetospeed(&tio));
  switch (tio.c_cflag & CSIZE) {
    case CS5: dcb.ByteSize = 5; break;
    case CS6: dcb.ByteSize = 6; break;
    case CS7: dcb.ByteSize = 7; break;
    default: dcb.ByteSize = 8; break;
  }
  if (!(tio.c_cflag & PARENB)) {
    dcb.Parity = 0;
  } else if (tio.c_cflag & CMSPAR) {
    dcb.Parity = (tio.c_cflag & PARODD) ? 3 : 4;
  } else {
    dcb.Parity = (tio.c_cflag & PARODD) ? 1 : 2;
  }
  dcb.StopBits = (tio.c_cflag & CSTOPB) ? 2 : 0;
  int bits = 0;
  {
    std::lock_guard lock(mu_);
    dcb.fDtrControl = ports_[h].dtrControl;
  }
  if (::ioctl(h, TIOCMGET, &bits) == 0) dcb.fDtrControl = (bits & TIOCM_DTR) ? 1 : 0;
  dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  dcb.fRtsControl = dcb.fOutxCtsFlow ? 2 : 1;
  dcb.fOutX = (tio.c_iflag & IXON) != 0;
  dcb.fInX = (tio.c_iflag & IXOFF) != 0;
  return true;
}

bool PosixSerialDevice::SetCommState(int32_t h, const Dcb& dcb) {
  if (!Known(h)) return false;
  termios tio{};
  if (::tcgetattr(h, &tio) != 0) return false;
  const termios before = tio;
  speed_t speed{};
  if (!BaudCode(dcb.BaudRate, speed)) return false;
  ::cfsetispeed(&tio, speed);
  ::cfsetospeed(&tio, speed);
  tio.c_cflag &= ~CSIZE;
  switch (dcb.ByteSize) {
    case 5: tio.c_cflag |= CS5; break;
    case 6: tio.c_cflag |= CS6; break;
    case 7: tio.c_cflag |= CS7; break;
    case 8: tio.c_cflag |= CS8; break;
    default: return false;
  }
  tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
  switch (dcb.Parity) {
    case 0: break;
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: return false;
  }
  switch (dcb.StopBits) {
    case 0: tio.c_cflag &= ~CSTOPB; break;
    case 2: tio.c_cflag |= CSTOPB; break;
    default: return false;  // one and a half stop bits: termios has no such setting
  }
  if (dcb.fOutxCtsFlow || dcb.fRtsControl == 2) {
    tio.c_cflag |= CRTSCTS;
  } else {
    tio.c_cflag &= ~CRTSCTS;
  }
  if (dcb.fOutX) tio.c_iflag |= IXON; else tio.c_iflag &= ~IXON;
  if (dcb.fInX) tio.c_iflag |= IXOFF; else tio.c_iflag &= ~IXOFF;
  if (::tcsetattr(h, TCSANOW, &tio) != 0) return false;
  // tcsetattr succeeds when any part took effect, and some devices keep their own framing
  // whatever they are given (a pseudo-terminal stays 8 bits without parity): make sure the
  // speed and the framing did, and take back a change that was only partly made.
  constexpr tcflag_t kFraming = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
  termios check{};
  if (::tcgetattr(h, &check) != 0 || ::cfgetospeed(&check) != speed ||
      (check.c_cflag & kFraming) != (tio.c_cflag & kFraming)) {
    ::tcsetattr(h, TCSANOW, &before);
    return false;
  }
  int dtr = TIOCM_DTR;
  // A pseudo-terminal has no modem lines and answers ENOTTY/EINVAL: harmless.
  ::ioctl(h, (dcb.fDtrControl & 3) == 0 ? TIOCMBIC : TIOCMBIS, &dtr);
  std::lock_guard lock(mu_);
  ports_[h].dtrControl = dcb.fDtrControl & 3;
  return true;
}

bool PosixSerialDevice::SetCommTimeouts(int32_t h, const CommTimeouts& timeouts) {
  std::lock_guard lock(mu_);
  auto it = ports_.find(h);
  if (it == ports_.end()) return false;
  it->second.writeTimeoutMs = timeouts.WriteTotalTimeoutConstant;
  return true;
}

void PosixSerialDevice::ClearCommError(int32_t) {}

bool PosixSerialDevice::Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) {
  got = 0;
  if (!Known(h) || State(h) == LineState::Lost) return false;
  if (max > 0) {
    for (;;) {
      const ssize_t n = ::read(h, buf, max);
      if (n > 0) {
        got = static_cast<uint32_t>(n);
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        MarkLost(h);
        return false;
      }
      // A line that has gone away reads as an end or an error, never as "try again": an
      // idle line needs no further look, which saves a call per reply on a busy gang.
      if (n < 0) return true;
      break;
    }
  }
  // Nothing there: tell an idle line from one that has gone away.
  pollfd p{h, POLLIN, 0};
  // A hung-up line polls readable too, yet reads nothing.
  if (::poll(&p, 1, 0) > 0 && LineGone(p.revents)) {
    MarkLost(h);
    return false;
  }
  return true;
}

void PosixSerialDevice::WaitReadable(int32_t h, uint32_t maxMs) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(maxMs);
  if (!Known(h)) {
    ::usleep(maxMs * 1000u);
    return;
  }
  // Bytes, a hang-up (the next read fails on it) or the deadline: the caller reads next.
  pollfd p{h, POLLIN, 0};
  while (::poll(&p, 1, RemainingMs(deadline)) < 0 && errno == EINTR) {
  }
}

uint32_t PosixSerialDevice::Write(int32_t h, const uint8_t* data, uint32_t len) {
  uint32_t timeoutMs = 0;
  {
    std::lock_guard lock(mu_);
    auto it = ports_.find(h);
    if (it == ports_.end() || it->second.lost) return 0;
    timeoutMs = it->second.writeTimeoutMs;
  }
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  uint32_t done = 0;
  while (done < len) {
    const ssize_t n = ::write(h, data + done, len - done);
    if (n > 0) {
      done += static_cast<uint32_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      MarkLost(h);
      break;
    }
    const int left = RemainingMs(deadline);
    if (left == 0) break;
    pollfd p{h, POLLOUT, 0};
    const int r = ::poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) break;
    if (r > 0 && LineGone(p.revents) && !(p.revents & POLLOUT)) {
      MarkLost(h);
      break;
    }
  }
  return done;
}

DrainResult PosixSerialDevice::Drain(int32_t h, uint32_t maxMs) {
  if (!Known(h) || State(h) == LineState::Lost) return DrainResult::Lost;
  // tcdrain() could block without bound on a stalled line; the output queue is polled
  // instead, so that the wait keeps its limit.
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(maxMs);
  for (;;) {
    int queued = 0;
    if (::ioctl(h, TIOCOUTQ, &queued) != 0) {
      if (errno == EINTR) continue;
      // A device without an output queue to ask about (some adapters) has nothing to wait for,
      // unless it has gone.
      if (errno == EIO || errno == ENXIO || errno == ENODEV) {
        MarkLost(h);
        return DrainResult::Lost;
      }
      return DrainResult::Drained;
    }
    // A hung-up line may still poll writable; its hang-up is what counts here.
    pollfd p{h, POLLOUT, 0};
    if (::poll(&p, 1, 0) > 0 && LineGone(p.revents)) {
      MarkLost(h);
      return DrainResult::Lost;
    }
    if (queued <= 0) return DrainResult::Drained;
    if (RemainingMs(deadline) == 0) return DrainResult::TimedOut;
    ::usleep(2000);
  }
}

void PosixSerialDevice::Close(int32_t h) {
  std::lock_guard lock(mu_);
  auto it = ports_.find(h);
  if (it == ports_.end()) return;
  Release(h, it->second);
  ports_.erase(it);
}

}  // namespace fennwick
