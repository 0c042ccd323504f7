#include "cli/interrupt.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "cli/commands.h"
#include "cli/interrupt_records.h"
#include "platform/system_serial.h"
#include "platform/std_descriptors.h"

namespace fennwick {

namespace {

// The first request: its time in milliseconds shifted left by 8, or'ed with its signal.
std::atomic<int64_t> g_request{0};
std::atomic<bool> g_stoppingAtOnce{false};

int64_t NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Say(const char* text, size_t size) {
  const ssize_t ignored = ::write(STDERR_FILENO, text, size);
  (void)ignored;
}

[[noreturn]] void StopAtOnce(const char* why, size_t size) {
  Say(why, size);
  // Several threads may take signals at once; one of them ends the program.
  if (g_stoppingAtOnce.exchange(true)) {
    for (;;) ::pause();
  }
  AppendPreparedRecords();
  RestoreOpenPortsNow();
  ::_exit(kExitInterrupted);
}

extern "C" void OnStopSignal(int sig) {
  const int savedErrno = errno;
  if (sig == SIGQUIT) {
    static const char kQuit[] = "fennwick-cli: quit; stopped at once\n";
    StopAtOnce(kQuit, sizeof kQuit - 1);
  }
  const int64_t now = NowMs();
  int64_t first = 0;
  if (g_request.compare_exchange_strong(first, (now << 8) | sig)) {
    static const char kFirst[] = "fennwick-cli: stopping; a block in flight is the last (another signal stops at once)\n";
    Say(kFirst, sizeof kFirst - 1);
    errno = savedErrno;
    return;
  }
  if ((first & 0xFF) == sig && now - (first >> 8) < kSameRequestMs) {
    errno = savedErrno;
    return;  // the same request delivered twice
  }
  static const char kAgain[] = "fennwick-cli: interrupted again; stopped at once\n";
  StopAtOnce(kAgain, sizeof kAgain - 1);
}

}  // namespace

int64_t MonotonicMs() { return NowMs(); }

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
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  // A stop at once must not be cut by another stop signal in the same thread.
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stop.sa_mask, sig);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    // nohup's SIGHUP and a background job's SIGQUIT stay ignored, as they were meant.
    struct sigaction before {};
    if ((sig == SIGHUP || sig == SIGQUIT) && ::sigaction(sig, nullptr, &before) == 0 && before.sa_handler == SIG_IGN) {
      continue;
    }
    ::sigaction(sig, &stop, nullptr);
  }
  return true;
}

bool StopRequested() { return g_request.load() != 0; }

void RequestStop(bool stop) { g_request.store(stop ? (NowMs() << 8) | SIGTERM : 0); }

}  // namespace fennwick
