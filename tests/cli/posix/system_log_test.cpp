// The system log's sockets exist on POSIX systems only (Windows refuses --syslog).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "cli/records/run_report.h"
#include "cli/records/system_log.h"
#include "fakes/temp_dir.h"

namespace fennwick {

namespace {

// The system log takes the summary line, or the run hears why not.
TEST(Records, TheSystemLogTakesTheLineOrTellsWhyNot) {
  const TempDir dir;
  SystemLogSockets sockets;
  sockets.journal.clear();
  sockets.syslog = dir / "log";
  RunInfo info{"identify", "line-3", nullptr};
  RunRecord run;
  run.port = "/dev/ttyUSB0";
  run.unit = "SN-0";
  std::string whyNot;
  EXPECT_FALSE(SendToSystemLog(sockets, info, run, whyNot));
  EXPECT_EQ(whyNot, sockets.syslog + ": No such file or directory");

  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sockets.syslog.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  for (const int code : {0, 3}) {
    run.exitCode = code;
    ASSERT_TRUE(SendToSystemLog(sockets, info, run, whyNot)) << whyNot;
    char buf[1024];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    ASSERT_GT(n, 0);
    const std::string line(buf, static_cast<size_t>(n));
    EXPECT_EQ(line.rfind(code == 0 ? "<14>" : "<11>", 0), 0u) << line;  // user.info, user.err
    EXPECT_NE(line.find(" fennwick-cli[" + std::to_string(::getpid()) + "]: " + SummaryLine(info, run)),
              std::string::npos)
        << line;
  }
  ::close(fd);
}

// A collector whose queue is full for a moment, or one on a stream socket, still gets the
// line: the send waits for room, and a stream carries it ended by a NUL.
TEST(Records, TheSystemLogLineReachesABusyOrStreamCollector) {
  const TempDir dir;
  SystemLogSockets sockets;
  sockets.journal.clear();
  sockets.syslog = dir / "log";
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sockets.syslog.c_str());
  const auto* at = reinterpret_cast<const sockaddr*>(&addr);
  const RunInfo info{"program", "line-3", nullptr, true};
  const RunRecord run;
  for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
    const int fd = ::socket(AF_UNIX, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);  // no accept waits forever
    ASSERT_EQ(::bind(fd, at, sizeof addr), 0);
    ::listen(fd, 4);  // a datagram socket refuses it, to no harm
    const int filler = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    while (type == SOCK_DGRAM && ::sendto(filler, "x", 1, 0, at, sizeof addr) == 1) continue;  // a full queue
    ::close(filler);
    std::string whyNot, got;
    auto sent = std::async(std::launch::async, [&] { return SendToSystemLog(sockets, info, run, whyNot); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto drain = [&](int from) {
      char buf[2048];
      for (ssize_t n; (n = ::recv(from, buf, sizeof buf, MSG_DONTWAIT)) > 0;) {
        if (n > 1) got.append(buf, static_cast<size_t>(n));
      }
    };
    if (type == SOCK_DGRAM) drain(fd);  // room for the waiting line
    EXPECT_TRUE(sent.get()) << whyNot;
    const int peer = type == SOCK_STREAM ? ::accept(fd, nullptr, nullptr) : fd;
    drain(peer);
    const std::string end = type == SOCK_STREAM ? std::string(1, '\0') : "";
    EXPECT_TRUE(got.ends_with("]: " + SummaryLine(info, run) + end)) << got;
    if (peer != fd) ::close(peer);
    ::close(fd);
    ::unlink(sockets.syslog.c_str());
  }
}

}  // namespace

}  // namespace fennwick
