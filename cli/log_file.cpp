#include "cli/log_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

std::string OneLine(const std::string& text) {
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  for (char& c : s) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return s;
}

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

bool AppendRunRecord(const std::string& path, const RunRecord& record) {
  static std::mutex mu;
  std::lock_guard lock(mu);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::flock(fd, LOCK_EX);
  char tail[160];
  std::snprintf(tail, sizeof tail, "\n===== result: %s (exit %d, %.1f s) =====\n", record.result.c_str(),
                record.exitCode, record.seconds);
  auto field = [](const char* name, const std::string& value) {
    return std::string(name) + ": " + (value.empty() ? "(none)" : OneLine(value)) + "\n";
  };
  const std::string text = "===== " + record.startedUtc + " " + record.port + ": " + record.command + " =====\n" +
                           field("tool", record.tool) + field("station", record.station) +
                           field("unit", record.unit) + field("file", record.file) +
                           field("image crc32", record.imageCrc32) + field("mcu version", record.mcuVersion) +
                           record.log + tail;
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  const int saved = errno;
  ::flock(fd, LOCK_UN);
  ::close(fd);
  errno = saved;
  return ok;
}
