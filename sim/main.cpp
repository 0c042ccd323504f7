// fennwick-mcu-sim: plays the MCU on a pseudo-terminal so the host runs without hardware.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "sim/atomic_file.hpp"
#include "sim/pty_line.hpp"
#include "sim/sim_options.hpp"
#include "sim/sim_runner.hpp"
#include "platform/std_descriptors.h"

namespace {

int g_stop_pipe_write = -1;

void onStopSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_stop_pipe_write, &byte, 1);
  errno = saved;
}

int fail(const std::string& message, int code) {
  std::cerr << "fennwick-mcu-sim: " << message << "\n";
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  // Before the terminal is opened: it must not become stdout or stderr.
  if (!EnsureStandardDescriptors()) return 1;
  using namespace fennwick::sim;
  const ParsedOptions parsed = parseSimOptions(argc, argv, std::cout, std::cerr);
  if (!parsed.options) return parsed.exit_code;
  const SimOptions& options = *parsed.options;

  if (!options.dump_path.empty()) {
    if (auto problem = checkWritableBeside(options.dump_path); !problem.empty()) {
      return fail("--dump: " + problem, 2);
    }
  }
  if (!options.link_path.empty()) {
    if (auto problem = checkLinkPath(options.link_path); !problem.empty()) return fail(problem, 2);
  }

  // Handlers go in before the path is printed: a script may signal us as soon as it reads it.
  int stop_pipe[2];
  if (::pipe2(stop_pipe, O_NONBLOCK | O_CLOEXEC) != 0) {
    return fail(std::string("pipe: ") + std::strerror(errno), 1);
  }
  g_stop_pipe_write = stop_pipe[1];
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  PtyPair pty;
  if (auto problem = openRawPty(pty); !problem.empty()) return fail(problem, 1);
  SymlinkGuard link;
  if (!options.link_path.empty()) {
    if (auto problem = link.create(options.link_path, pty.slave_path); !problem.empty()) {
      return fail(problem, 1);
    }
  }

  std::cout << pty.slave_path << std::endl;
  // Holding no slave fd ourselves is what lets the master tell whether a peer is there.
  ::close(pty.slave);

  SimRunner runner(options, pty.master, stop_pipe[0]);
  const int code = runner.run();
  ::close(pty.master);
  link.remove();
  return code;
}
