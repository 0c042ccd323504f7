#include "cli/records/interrupt.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "cli/records/interrupt_records.h"
#include "platform/std_descriptors.h"

namespace fennwick {

int64_t MonotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void WriteWhole(int fd, const char* text, size_t size) {
  const ssize_t ignored = ::write(fd, text, size);
  (void)ignored;
}

bool PrepareProcess() {
  if (!EnsureStandardDescriptors()) return false;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
  return InstallStopRequests(CommandLineStopRules());
}

}  // namespace fennwick
