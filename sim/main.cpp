// fennwick-mcu-sim: plays the MCU on a pseudo-terminal so the host runs without hardware.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "sim/atomic_file.h"
#include "sim/pty_line.h"
#include "sim/sim_options.h"
#include "sim/sim_runner.h"
#include "sim/stm8_runner.h"
#include "platform/std_descriptors.h"

namespace {

int g_stopPipeWrite = -1;

void OnStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_stopPipeWrite, &byte, 1);
  errno = saved;
}

int Fail(const std::string& message, int code) {
  std::cerr << "fennwick-mcu-sim: " << message << "\n";
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  // Before the terminal is opened: it must not become stdout or stderr.
  if (!fennwick::EnsureStandardDescriptors()) return 1;
  using namespace fennwick::sim;
  const ParsedOptions parsed = ParseSimOptions(argc, argv, std::cout, std::cerr);
  if (!parsed.options) return parsed.exitCode;
  const SimOptions& options = *parsed.options;

  if (!options.dumpPath.empty()) {
    if (auto problem = CheckWritableBeside(options.dumpPath); !problem.empty()) {
      return Fail("--dump: " + problem, 2);
    }
  }
  if (!options.linkPath.empty()) {
    if (auto problem = CheckLinkPath(options.linkPath); !problem.empty()) return Fail(problem, 2);
  }
  Stm8Runner stm8(options);
  if (!options.stm8Image.empty()) {
    int code = 0;
    if (auto problem = stm8.Prepare(code); !problem.empty()) return Fail(problem, code);
  }

  // Handlers go in before the path is printed: a script may signal us as soon as it reads it.
  int stopPipe[2];
  if (::pipe2(stopPipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    return Fail(std::string("pipe: ") + std::strerror(errno), 1);
  }
  g_stopPipeWrite = stopPipe[1];
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  PtyPair pty;
  if (auto problem = OpenRawPty(pty); !problem.empty()) return Fail(problem, 1);
  SymlinkGuard link;
  if (!options.linkPath.empty()) {
    if (auto problem = link.Create(options.linkPath, pty.slavePath); !problem.empty()) {
      return Fail(problem, 1);
    }
  }

  std::cout << pty.slavePath << std::endl;
  // Holding no slave fd ourselves is what lets the master tell whether a peer is there.
  ::close(pty.slave);

  int code = 0;
  if (!options.stm8Image.empty()) {
    code = stm8.Run(pty.master, stopPipe[0]);
  } else {
    SimRunner runner(options, pty.master, stopPipe[0]);
    code = runner.Run();
  }
  ::close(pty.master);
  link.Remove();
  return code;
}
