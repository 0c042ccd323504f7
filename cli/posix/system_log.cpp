#include "cli/records/system_log.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "cli/records/record_text.h"
#include "cli/records/run_report.h"
#include "link/exit_codes.h"

#ifdef FENNWICK_JOURNAL
#include <systemd/sd-journal.h>
#endif

namespace fennwick {

namespace {

constexpr int kSendWaitMs = 2000;  // a system log that takes longer is not there for us

#ifdef FENNWICK_JOURNAL
bool IsSocket(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// NAME=value; built by appending, which gcc 12's -Wrestrict does not misread on 32-bit targets.
std::string Field(const char* name, const std::string& value) {
  std::string field(name);
  field += '=';
  field += value;
  return field;
}

bool SendToJournal(const RunInfo& info, const RunRecord& run, const std::string& message, std::string& whyNot) {
  std::vector<std::string> fields = {
      Field("MESSAGE", message),
      Field("PRIORITY", std::to_string(run.exitCode == 0 ? LOG_INFO : LOG_ERR)),
      "SYSLOG_IDENTIFIER=fennwick-cli",
      Field("SYSLOG_FACILITY", std::to_string(LOG_USER >> 3)),
      Field("FENNWICK_COMMAND", info.verb),
      Field("FENNWICK_RESULT", SummaryResultWord(info, run)),
      Field("FENNWICK_EXIT_CODE", std::to_string(run.exitCode)),
      Field("FENNWICK_DETAIL", run.result),
      Field("FENNWICK_SECONDS", std::to_string(run.seconds)),
  };
  auto add = [&](const char* name, const std::string& value) {
    if (!value.empty()) fields.push_back(Field(name, value));
  };
  add("FENNWICK_STATION", info.station);
  add("FENNWICK_UNIT", run.unit);
  add("FENNWICK_PORT", run.port);
  if (info.file != nullptr) {
    add("FENNWICK_FILE", info.file->path);
    add("FENNWICK_CRC32", Crc32Text(info.file->crc32));
  }
  add("FENNWICK_MCU_VERSION", DeviceTextUtf8(run.mcuVersion));
  std::vector<iovec> iov;
  for (std::string& f : fields) iov.push_back({f.data(), f.size()});
  const int rc = sd_journal_sendv(iov.data(), static_cast<int>(iov.size()));
  if (rc < 0) whyNot = std::strerror(-rc);
  return rc >= 0;
}
#endif

using Clock = std::chrono::steady_clock;

// A blocking socket's sends and connects give up when `deadline` comes; false when it has.
bool WaitAtMostUntil(int fd, Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(left / 1000000);
  tv.tv_usec = static_cast<suseconds_t>(left % 1000000);
  return ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
}

// A socket of `type` connected to the log; -1 with `error` set when none could be.
int ConnectTo(const sockaddr_un& addr, int type, Clock::time_point deadline, int& error) {
  const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  for (;;) {
    if (!WaitAtMostUntil(fd, deadline)) {
      error = ETIMEDOUT;
      break;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
    error = errno;
    if (error == EISCONN) return fd;  // an interrupted connect that went through meanwhile
    if (error == EAGAIN) error = ETIMEDOUT;  // a stream listener with no room for us
    if (error != EINTR) break;
  }
  ::close(fd);
  return -1;
}

// Sends `line` whole: a datagram at once, a stream as many pieces as it takes. A full queue
// is waited for until `deadline` (a connected socket's send waits for room where a poll of
// an unconnected one would not). 0, or the errno value of the failure.
int SendWhole(int fd, const std::string& line, bool stream, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < line.size()) {
    if (!WaitAtMostUntil(fd, deadline)) return ETIMEDOUT;
    const ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;  // a stop signal: the record is still owed
      return errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
    }
    if (!stream) return 0;
    sent += static_cast<size_t>(n);
  }
  return 0;
}

bool SendToSyslog(const std::string& path, int priority, const std::string& message, std::string& whyNot) {
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (path.size() >= sizeof addr.sun_path) {
    whyNot = std::strerror(ENAMETOOLONG);
    return false;
  }
  std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
  // The traditional line: "<PRI>Mmm dd hh:mm:ss TAG[PID]: MESSAGE".
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &tm);
  char head[96];
  std::snprintf(head, sizeof head, "<%d>%s fennwick-cli[%d]: ", LOG_USER | priority, stamp, static_cast<int>(::getpid()));
  std::string line = head;
  line += message;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kSendWaitMs);
  int error = 0;
  bool stream = false;
  int fd = ConnectTo(addr, SOCK_DGRAM, deadline, error);
  if (fd < 0 && error == EPROTOTYPE) {
    // A daemon that listens on a stream socket there reads one message up to each NUL byte.
    stream = true;
    fd = ConnectTo(addr, SOCK_STREAM, deadline, error);
    line += '\0';
  }
  if (fd >= 0) {
    error = SendWhole(fd, line, stream, deadline);
    ::close(fd);
  }
  if (error == ETIMEDOUT) {
    whyNot = "it took nothing for " + std::to_string(kSendWaitMs / 1000) + " s (busy or stuck)";
  } else if (error != 0) {
    whyNot = std::strerror(error);
  }
  return error == 0;
}

}  // namespace

SystemLogSockets::SystemLogSockets() : syslog("/dev/log"), journal("/run/systemd/journal/socket") {
  if (const char* path = std::getenv("FENNWICK_SYSLOG_SOCKET"); path != nullptr && path[0] != '\0') {
    syslog = path;
    journal.clear();
  }
}

bool SendToSystemLog(const SystemLogSockets& sockets, const RunInfo& info, const RunRecord& run,
                     std::string& whyNot) {
  const std::string message = SummaryLine(info, run);
#ifdef FENNWICK_JOURNAL
  // The journal keeps the fields for `journalctl FENNWICK_UNIT=...` and passes the line on
  // to a syslog daemon; sending both would show each run twice.
  if (IsSocket(sockets.journal)) {
    if (SendToJournal(info, run, message, whyNot)) return true;
    whyNot = "the journal: " + whyNot;
    return false;
  }
#endif
  if (!SendToSyslog(sockets.syslog, run.exitCode == 0 ? LOG_INFO : LOG_ERR, message, whyNot)) {
    whyNot = sockets.syslog + ": " + whyNot;
    return false;
  }
  return true;
}

}  // namespace fennwick
