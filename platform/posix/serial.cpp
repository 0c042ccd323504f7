#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>

#include "platform/posix/serial_parts.h"
#include "platform/clock.h"
#include "platform/system_serial.h"

namespace fennwick {

namespace {

using SteadyClock = std::chrono::steady_clock;

bool LineGone(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }

struct Port {
  termios original{};  // the settings found at the opening, put back at the close
  bool lowLatencySet = false;  // the driver's low-latency flag was off and we switched it on
  uint32_t writeTimeoutMs = 5000;
  uint8_t dtrControl = 1;  // as the driver reports until we change it
  bool lost = false;
};

}  // namespace

// Handles are the file descriptors; only descriptors that this object opened are accepted.
struct SystemSerialDevice::Ports {
  bool Known(int32_t h) const;
  void MarkLost(int32_t h);

  mutable std::mutex mu;
  std::map<int32_t, Port> open;
};

namespace {

void Release(int fd, const Port& port) {
  posix::ForgetLine(fd);
  // The line is left as it was found. Bytes still on their way go out at our settings
  // first; a lost line takes nothing more.
  if (!port.lost) {
    ::tcsetattr(fd, TCSADRAIN, &port.original);
    if (port.lowLatencySet) posix::DropLowLatency(fd);
  }
  posix::Unclaim(fd);
  ::close(fd);
}

}  // namespace

SystemSerialDevice::SystemSerialDevice() : ports_(std::make_unique<Ports>()) {}

SystemSerialDevice::~SystemSerialDevice() {
  for (const auto& [fd, port] : ports_->open) Release(fd, port);
}

int32_t SystemSerialDevice::Open(const std::string& path) {
  termios original{};
  bool lowLatencySet = false;
  OpenError error = OpenError::None;
  int errnoValue = 0;
  int fd = kInvalidHandle;
  if (path.empty()) {
    error = OpenError::NoSuchDevice;
  } else {
    fd = posix::OpenLine(path, original, lowLatencySet, error, errnoValue);
  }
  lastOpen_.Set(path, error, errnoValue);
  std::lock_guard lock(ports_->mu);
  if (fd != kInvalidHandle) {
    Port port;
    port.original = original;
    port.lowLatencySet = lowLatencySet;
    ports_->open[fd] = port;
    posix::RememberLine(fd, original, lowLatencySet);
  }
  return fd;
}

bool SystemSerialDevice::Ports::Known(int32_t h) const {
  std::lock_guard lock(mu);
  return open.count(h) != 0;
}

void SystemSerialDevice::Ports::MarkLost(int32_t h) {
  std::lock_guard lock(mu);
  if (auto it = open.find(h); it != open.end()) it->second.lost = true;
}

LineState SystemSerialDevice::State(int32_t h) const {
  std::lock_guard lock(ports_->mu);
  auto it = ports_->open.find(h);
  return it != ports_->open.end() && !it->second.lost ? LineState::Ok : LineState::Lost;
}

bool SystemSerialDevice::SetupComm(int32_t h, uint32_t, uint32_t) { return ports_->Known(h); }

bool SystemSerialDevice::Purge(int32_t h, uint32_t flags) {
  if (!ports_->Known(h)) return false;
  const bool tx = (flags & kPurgeTxClear) != 0;
  const bool rx = (flags & kPurgeRxClear) != 0;
  if (!tx && !rx) return true;
  return ::tcflush(h, tx && rx ? TCIOFLUSH : (tx ? TCOFLUSH : TCIFLUSH)) == 0;
}

bool SystemSerialDevice::SetCommMask(int32_t h, uint32_t) { return ports_->Known(h); }

bool SystemSerialDevice::GetCommState(int32_t h, Dcb& dcb) {
  if (!ports_->Known(h)) return false;
  termios tio{};
  if (::tcgetattr(h, &tio) != 0) return false;
  dcb.BaudRate = posix::BaudRate(::cfgetospeed(&tio));
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
    std::lock_guard lock(ports_->mu);
    dcb.fDtrControl = ports_->open[h].dtrControl;
  }
  if (::ioctl(h, TIOCMGET, &bits) == 0) dcb.fDtrControl = (bits & TIOCM_DTR) ? 1 : 0;
  dcb.fOutxCtsFlow = (tio.c_cflag & CRTSCTS) != 0;
  dcb.fRtsControl = dcb.fOutxCtsFlow ? 2 : 1;
  dcb.fOutX = (tio.c_iflag & IXON) != 0;
  dcb.fInX = (tio.c_iflag & IXOFF) != 0;
  return true;
}

bool SystemSerialDevice::SetCommState(int32_t h, const Dcb& dcb) {
  if (!ports_->Known(h)) return false;
  termios tio{};
  if (::tcgetattr(h, &tio) != 0) return false;
  const termios before = tio;
  speed_t speed{};
  if (!posix::BaudCode(dcb.BaudRate, speed)) return false;
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
  std::lock_guard lock(ports_->mu);
  ports_->open[h].dtrControl = dcb.fDtrControl & 3;
  return true;
}

bool SystemSerialDevice::SetCommTimeouts(int32_t h, const CommTimeouts& timeouts) {
  std::lock_guard lock(ports_->mu);
  auto it = ports_->open.find(h);
  if (it == ports_->open.end()) return false;
  it->second.writeTimeoutMs = timeouts.WriteTotalTimeoutConstant;
  return true;
}

void SystemSerialDevice::ClearCommError(int32_t) {}

bool SystemSerialDevice::Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) {
  got = 0;
  if (State(h) == LineState::Lost) return false;  // also a handle that is not ours
  if (max > 0) {
    for (;;) {
      const ssize_t n = ::read(h, buf, max);
      if (n > 0) {
        got = static_cast<uint32_t>(n);
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        ports_->MarkLost(h);
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
    ports_->MarkLost(h);
    return false;
  }
  return true;
}

void SystemSerialDevice::WaitReadable(int32_t h, uint32_t maxMs) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(maxMs);
  if (!ports_->Known(h)) {
    ::usleep(maxMs * 1000u);
    return;
  }
  // Bytes, a hang-up (the next read fails on it) or the deadline: the caller reads next.
  pollfd p{h, POLLIN, 0};
  while (::poll(&p, 1, static_cast<int>(MsLeft(deadline))) < 0 && errno == EINTR) {
  }
}

uint32_t SystemSerialDevice::Write(int32_t h, const uint8_t* data, uint32_t len) {
  uint32_t timeoutMs = 0;
  {
    std::lock_guard lock(ports_->mu);
    auto it = ports_->open.find(h);
    if (it == ports_->open.end() || it->second.lost) return 0;
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
      ports_->MarkLost(h);
      break;
    }
    const int left = static_cast<int>(MsLeft(deadline));
    if (left == 0) break;
    pollfd p{h, POLLOUT, 0};
    const int r = ::poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) break;
    if (r > 0 && LineGone(p.revents) && !(p.revents & POLLOUT)) {
      ports_->MarkLost(h);
      break;
    }
  }
  return done;
}

DrainResult SystemSerialDevice::Drain(int32_t h, uint32_t maxMs) {
  if (!ports_->Known(h) || State(h) == LineState::Lost) return DrainResult::Lost;
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
        ports_->MarkLost(h);
        return DrainResult::Lost;
      }
      return DrainResult::Drained;
    }
    // A hung-up line may still poll writable; its hang-up is what counts here.
    pollfd p{h, POLLOUT, 0};
    if (::poll(&p, 1, 0) > 0 && LineGone(p.revents)) {
      ports_->MarkLost(h);
      return DrainResult::Lost;
    }
    if (queued <= 0) return DrainResult::Drained;
    if (MsLeft(deadline) == 0) return DrainResult::TimedOut;
    ::usleep(2000);
  }
}

void SystemSerialDevice::Close(int32_t h) {
  std::lock_guard lock(ports_->mu);
  auto it = ports_->open.find(h);
  if (it == ports_->open.end()) return;
  Release(h, it->second);
  ports_->open.erase(it);
}

}  // namespace fennwick
