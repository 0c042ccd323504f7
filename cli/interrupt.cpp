#include "cli/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "cli/commands.h"
#include "platform/posix_serial.h"
#include "platform/std_descriptors.h"

namespace fennwick {

namespace {

std::atomic<int> g_signals{0};
static_assert(std::atomic<int>::is_always_lock_free);

void Say(const char* text, size_t size) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, size);
  (void)ignored;
}

extern "C" void OnStopSignal(int) {
  if (g_signals.fetch_add(1) == 0) {
    static const char kFirst[] = "fennwick-cli: stopping after the current block (another signal stops at once)\n";
    Say(kFirst, sizeof kFirst - 1);
    return;
  }
  static const char kAgain[] = "fennwick-cli: interrupted again; stopped at once\n";
  Say(kAgain, sizeof kAgain - 1);
  RestoreOpenPortsNow();
  ::_exit(kExitInterrupted);
}

}  // namespace

bool PrepareProcess() {
  if (!EnsureStandardDescriptors()) return false;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, nullptr);
  ::sigaction(SIGXFSZ, &ignore, nullptr);
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  ::sigaction(SIGINT, &stop, nullptr);
  ::sigaction(SIGTERM, &stop, nullptr);
  return true;
}

bool StopRequested() { return g_signals.load() > 0; }

void RequestStop(bool stop) { g_signals.store(stop ? 1 : 0); }

}  // namespace fennwick
