#include "cli/records/log_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "cli/records/file_calls.h"
#include "cli/records/record_text.h"

namespace fennwick {

namespace {

std::string Value(const std::string& text) { return text.empty() ? "(none)" : RecordQuoted(text); }

}  // namespace

std::string RecordBody(const RunRecord& record) {
  std::string text = "===== " + record.startedUtc + " " + Value(record.port) + ": " + Value(record.command) + " =====\n";
  auto field = [&](const char* name, const std::string& value) { text += std::string(name) + ": " + Value(value) + "\n"; };
  field("tool", record.tool);
  field("station", record.station);
  field("unit", record.unit);
  field("file", record.file);
  field("image crc32", record.imageCrc32);
  field("mcu version", DeviceTextUtf8(record.mcuVersion));
  // One line, so that no field name repeats within a record.
  std::string warnings;
  for (const std::string& warning : record.warnings) warnings += (warnings.empty() ? "" : " ") + warning;
  if (!warnings.empty()) field("warning", warnings);
  // Each line of the device's log set apart by "| ", so that none can pass for the record's own.
  const std::string log = DeviceTextUtf8(record.log);
  for (size_t at = 0; at < log.size();) {
    const size_t end = log.find('\n', at);
    text += "| " + RecordEscaped(std::string_view(log).substr(at, end == std::string::npos ? std::string::npos : end - at), false);
    if (end == std::string::npos) {
      text += "\\c\n";  // the log's last line had no line end
      break;
    }
    text += "\n";
    at = end + 1;
  }
  return text;
}

std::string RecordTail(const RunRecord& record) {
  char tail[64];
  std::snprintf(tail, sizeof tail, " (exit %d, %.1f s) =====\n", record.exitCode, record.seconds);
  return "===== result: " + RecordEscaped(record.result, true) + tail;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::unique_ptr<RunLogFile> RunLogFile::Open(const std::string& path, std::string& whyNot) {
  // Looked at before it is opened: opening a serial port or a FIFO has effects of its own
  // (a held lock, a raised modem line, a wait for a reader).
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    whyNot = S_ISDIR(st.st_mode) ? "is a directory" : "is not a regular file";
    return nullptr;
  }
  const int fd = OpenForAppending(path);
  if (fd < 0) {
    whyNot = std::strerror(errno);
    return nullptr;
  }
  // It may have been swapped for something else between the look and the open.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    whyNot = "is not a regular file";
    return nullptr;
  }
  return std::unique_ptr<RunLogFile>(new RunLogFile(fd, path));
}

RunLogFile::~RunLogFile() { ::close(fd_); }

bool RunLogFile::Append(const RunRecord& record, std::string& whyNot) {
  static std::mutex mu;
  std::lock_guard lock(mu);
  LockWholeFile(fd_);
  const std::string text = RecordBody(record) + RecordTail(record);
  size_t done = 0;
  int error = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<size_t>(n);
  }
  // The write's own error is the one to tell; the sync's comes second.
  if (SyncFile(fd_) != 0 && error == 0) error = errno;
  UnlockWholeFile(fd_);
  if (error != 0) whyNot = std::strerror(error);
  return error == 0;
}

}  // namespace fennwick
