#include <windows.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <mutex>

#include "platform/restore_registry.h"
#include "platform/clock.h"
#include "platform/system_serial.h"
#include "platform/text.h"

namespace fennwick {

namespace {

using SteadyClock = std::chrono::steady_clock;

struct SavedLine {
  DCB dcb;
  COMMTIMEOUTS timeouts;
};
using Registry = RestoreRegistry<HANDLE, SavedLine>;

// Never destroyed: a console control handler runs on a thread of its own, and may still run
// while the program's statics go away.
union Lasting {
  Registry registry;
  Lasting() : registry() {}
  ~Lasting() {}
};
Lasting g_saved;

void Remember(HANDLE h, const DCB& dcb, const COMMTIMEOUTS& timeouts) {
  g_saved.registry.Add(h, SavedLine{dcb, timeouts});
}

void Forget(HANDLE h) { g_saved.registry.Remove(h); }

// The open errors that a person can act on, with the errno value that the front ends show.
void ExplainOpenError(DWORD code, OpenError& error, int& errnoValue) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      error = OpenError::NoSuchDevice;
      errnoValue = ENOENT;
      break;
    // A COM port that another program holds answers "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
      error = OpenError::Busy;
      errnoValue = EBUSY;
      break;
    default:
      error = OpenError::Other;
      errnoValue = EIO;
  }
}

struct Port {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DCB original{};            // put back at the close
  COMMTIMEOUTS originalTimeouts{};
  std::atomic<bool> lost{false};
};

}  // namespace

// The handles given out are small numbers of our own that stand for the system's handles;
// only those are accepted.
struct SystemSerialDevice::Ports {
  // The system handle behind `h`, or null when `h` is not ours or its line is lost.
  HANDLE Live(int32_t h) const;
  void MarkLost(int32_t h);

  mutable std::mutex mu;
  std::map<int32_t, std::shared_ptr<Port>> open;
  int32_t next = 1;
};

void RestoreOpenPortsNow() {
  g_saved.registry.ForEach([](HANDLE h, const SavedLine& saved) {
    DCB dcb = saved.dcb;
    COMMTIMEOUTS timeouts = saved.timeouts;
    ::SetCommState(h, &dcb);
    ::SetCommTimeouts(h, &timeouts);
  });
}

SystemSerialDevice::SystemSerialDevice() : ports_(std::make_unique<Ports>()) {}

SystemSerialDevice::~SystemSerialDevice() {
  std::map<int32_t, std::shared_ptr<Port>> left;
  {
    std::lock_guard lock(ports_->mu);
    left.swap(ports_->open);
  }
  for (auto& [h, port] : left) {
    Forget(port->handle);
    if (!port->lost) {
      ::SetCommState(port->handle, &port->original);
      ::SetCommTimeouts(port->handle, &port->originalTimeouts);
    }
    ::CloseHandle(port->handle);
  }
}

int32_t SystemSerialDevice::Open(const std::string& path) {
  OpenError error = OpenError::None;
  int errnoValue = 0;
  auto port = std::make_shared<Port>();
  std::u16string wide;
  if (path.empty() || !Utf8ToUtf16(path, wide)) {
    error = OpenError::NoSuchDevice;
    errnoValue = ENOENT;
  } else {
    // No sharing: the port is ours alone until we close it.
    port->handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), GENERIC_READ | GENERIC_WRITE, 0,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (port->handle == INVALID_HANDLE_VALUE) {
      ExplainOpenError(::GetLastError(), error, errnoValue);
      // A directory answers "access denied" too, and is no busy port.
      const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<const wchar_t*>(wide.c_str()));
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = OpenError::Other;
        errnoValue = EISDIR;
      }
    } else {
      port->original.DCBlength = sizeof(DCB);
      if (!::GetCommState(port->handle, &port->original) ||
          !::GetCommTimeouts(port->handle, &port->originalTimeouts)) {
        // A file or a device that is no serial port.
        error = OpenError::NotSerial;
        errnoValue = ENOTTY;
      } else {
        // Raw 8-bit line at 19,200 without flow control, and reads that return at once with
        // what has arrived; the link sets the rest.
        DCB raw = port->original;
        raw.BaudRate = CBR_19200;
        raw.ByteSize = 8;
        raw.Parity = NOPARITY;
        raw.StopBits = ONESTOPBIT;
        raw.fBinary = TRUE;
        raw.fParity = FALSE;
        raw.fOutxCtsFlow = FALSE;
        raw.fOutxDsrFlow = FALSE;
        raw.fDsrSensitivity = FALSE;
        raw.fOutX = FALSE;
        raw.fInX = FALSE;
        raw.fErrorChar = FALSE;
        raw.fNull = FALSE;
        raw.fAbortOnError = FALSE;
        COMMTIMEOUTS now{MAXDWORD, 0, 0, 0, 5000};
        if (!::SetCommState(port->handle, &raw) || !::SetCommTimeouts(port->handle, &now)) {
          error = OpenError::NotSerial;
          errnoValue = ENOTTY;
        }
      }
      if (error != OpenError::None) {
        ::CloseHandle(port->handle);
        port->handle = INVALID_HANDLE_VALUE;
      }
    }
  }
  lastOpen_.Set(path, error, errnoValue);
  std::lock_guard lock(ports_->mu);
  if (error != OpenError::None) return kInvalidHandle;
  const int32_t h = ports_->next++;
  ports_->open[h] = port;
  Remember(port->handle, port->original, port->originalTimeouts);
  return h;
}

HANDLE SystemSerialDevice::Ports::Live(int32_t h) const {
  std::lock_guard lock(mu);
  auto it = open.find(h);
  if (it == open.end() || it->second->lost) return nullptr;
  return it->second->handle;
}

void SystemSerialDevice::Ports::MarkLost(int32_t h) {
  std::lock_guard lock(mu);
  if (auto it = open.find(h); it != open.end()) it->second->lost = true;
}

LineState SystemSerialDevice::State(int32_t h) const { return ports_->Live(h) ? LineState::Ok : LineState::Lost; }

bool SystemSerialDevice::SetupComm(int32_t h, uint32_t rxQueue, uint32_t txQueue) {
  HANDLE port = ports_->Live(h);
  if (!port) return false;
  // Only a recommendation to the driver; some drivers refuse it and work all the same.
  ::SetupComm(port, rxQueue, txQueue);
  return true;
}

bool SystemSerialDevice::Purge(int32_t h, uint32_t flags) {
  HANDLE port = ports_->Live(h);
  if (!port) return false;
  const DWORD what = flags & (kPurgeTxClear | kPurgeRxClear);
  return what == 0 || ::PurgeComm(port, what) != 0;
}

bool SystemSerialDevice::SetCommMask(int32_t h, uint32_t mask) {
  HANDLE port = ports_->Live(h);
  if (!port) return false;
  ::SetCommMask(port, mask);
  return true;
}

bool SystemSerialDevice::GetCommState(int32_t h, Dcb& dcb) {
  HANDLE port = ports_->Live(h);
  if (!port) return false;
  DCB d{};
  d.DCBlength = sizeof d;
  if (!::GetCommState(port, &d)) return false;
  dcb.BaudRate = d.BaudRate;
  dcb.ByteSize = d.ByteSize;
  dcb.Parity = d.Parity;
  dcb.StopBits = d.StopBits;
  dcb.fDtrControl = static_cast<uint8_t>(d.fDtrControl);
  dcb.fRtsControl = static_cast<uint8_t>(d.fRtsControl);
  dcb.fOutxCtsFlow = d.fOutxCtsFlow != 0;
  dcb.fOutX = d.fOutX != 0;
  dcb.fInX = d.fInX != 0;
  return true;
}

bool SystemSerialDevice::SetCommState(int32_t h, const Dcb& dcb) {
  HANDLE port = ports_->Live(h);
  if (!port) return false;
  if (dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2) return false;
  DCB d{};
  d.DCBlength = sizeof d;
  if (!::GetCommState(port, &d)) return false;
  const DCB before = d;
  d.BaudRate = dcb.BaudRate;
  d.ByteSize = dcb.ByteSize;
  d.Parity = dcb.Parity;
  d.fParity = dcb.Parity != NOPARITY;
  d.StopBits = dcb.StopBits;
  d.fDtrControl = dcb.fDtrControl & 3;
  d.fRtsControl = dcb.fRtsControl & 3;
  d.fOutxCtsFlow = dcb.fOutxCtsFlow;
  d.fOutX = dcb.fOutX;
  d.fInX = dcb.fInX;
  if (!::SetCommState(port, &d)) return false;
  // A driver may accept settings it does not keep: make sure the speed and the framing took,
  // and take back a change that was only partly made.
  DCB check{};
  check.DCBlength = sizeof check;
  if (!::GetCommState(port, &check) || check.BaudRate != d.BaudRate || check.ByteSize != d.ByteSize ||
      check.Parity != d.Parity || check.StopBits != d.StopBits) {
    DCB undo = before;
    ::SetCommState(port, &undo);
    return false;
  }
  return true;
}

bool SystemSerialDevice::SetCommTimeouts(int32_t h, const CommTimeouts& timeouts) {
  HANDLE port = ports_->Live(h);
  if (!port) return false;
  // Reads stay non-waiting whatever the caller asks (WaitReadable does the waiting); the
  // write time-out is the caller's.
  // (A zero constant would mean no limit at all to the system.)
  const DWORD writeMs = timeouts.WriteTotalTimeoutConstant == 0 ? 1 : timeouts.WriteTotalTimeoutConstant;
  COMMTIMEOUTS t{MAXDWORD, 0, 0, 0, writeMs};
  return ::SetCommTimeouts(port, &t) != 0;
}

void SystemSerialDevice::ClearCommError(int32_t h) {
  HANDLE port = ports_->Live(h);
  if (!port) return;
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(port, &errors, &stat)) ports_->MarkLost(h);
}

bool SystemSerialDevice::Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) {
  got = 0;
  HANDLE port = ports_->Live(h);
  if (!port) return false;
  if (max > 0) {
    DWORD n = 0;
    if (!::ReadFile(port, buf, max, &n, nullptr)) {
      ports_->MarkLost(h);
      return false;
    }
    got = n;
    if (n > 0) return true;
  }
  // Nothing there: tell an idle line from one that has gone away (a pulled adapter fails
  // every query from then on).
  DWORD errors = 0;
  COMSTAT stat{};
  if (!::ClearCommError(port, &errors, &stat)) {
    ports_->MarkLost(h);
    return false;
  }
  return true;
}

void SystemSerialDevice::WaitReadable(int32_t h, uint32_t maxMs) {
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(maxMs);
  HANDLE port = ports_->Live(h);
  if (!port) {
    ::Sleep(maxMs);
    return;
  }
  // The queue is polled in short steps, so that a reply wakes the caller within about a
  // millisecond; a failing query is a lost line, which the next read reports.
  for (;;) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(port, &errors, &stat) || stat.cbInQue > 0) return;
    const DWORD left = MsLeft(deadline);
    if (left == 0) return;
    ::Sleep(1);
  }
}

uint32_t SystemSerialDevice::Write(int32_t h, const uint8_t* data, uint32_t len) {
  HANDLE port = ports_->Live(h);
  if (!port) return 0;
  COMMTIMEOUTS t{};
  ::GetCommTimeouts(port, &t);
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(t.WriteTotalTimeoutConstant);
  uint32_t done = 0;
  // The driver's write time-out bounds each call; the loop bounds them all together.
  while (done < len) {
    DWORD n = 0;
    if (!::WriteFile(port, data + done, len - done, &n, nullptr)) {
      if (::GetLastError() != ERROR_TIMEOUT) ports_->MarkLost(h);
      break;
    }
    done += n;
    if (done < len && MsLeft(deadline) == 0) break;
    if (n == 0) ::Sleep(1);
  }
  return done;
}

DrainResult SystemSerialDevice::Drain(int32_t h, uint32_t maxMs) {
  HANDLE port = ports_->Live(h);
  if (!port) return DrainResult::Lost;
  // FlushFileBuffers could wait without bound on a stalled line; the output queue is polled
  // instead, so that the wait keeps its limit.
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(maxMs);
  for (;;) {
    DWORD errors = 0;
    COMSTAT stat{};
    if (!::ClearCommError(port, &errors, &stat)) {
      ports_->MarkLost(h);
      return DrainResult::Lost;
    }
    if (stat.cbOutQue == 0) return DrainResult::Drained;
    if (MsLeft(deadline) == 0) return DrainResult::TimedOut;
    ::Sleep(2);
  }
}

void SystemSerialDevice::Close(int32_t h) {
  std::shared_ptr<Port> port;
  {
    std::lock_guard lock(ports_->mu);
    auto it = ports_->open.find(h);
    if (it == ports_->open.end()) return;
    port = it->second;
    ports_->open.erase(it);
  }
  Forget(port->handle);
  // The line is left as it was found; a lost line takes nothing more.
  if (!port->lost) {
    ::SetCommState(port->handle, &port->original);
    ::SetCommTimeouts(port->handle, &port->originalTimeouts);
  }
  ::CloseHandle(port->handle);
}

}  // namespace fennwick
