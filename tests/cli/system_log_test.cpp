// The system log's sockets exist on POSIX systems only (Windows refuses --syslog).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/run_report.h"
#include "cli/system_log.h"

namespace fennwick {

namespace {

// The system log takes the summary line, or the run hears why not.
TEST(Records, TheSystemLogTakesTheLineOrTellsWhyNot) {
  char dir[] = "/tmp/fennwick-syslog-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  SystemLogSockets sockets;
  sockets.journal.clear();
  sockets.syslog = std::string(dir) + "/log";
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
  ::unlink(sockets.syslog.c_str());
  ::rmdir(dir);
}

}  // namespace

}  // namespace fennwick
