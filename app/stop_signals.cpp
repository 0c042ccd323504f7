#include "app/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/system_serial.h"

namespace fennwick {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// `timeout` signals the program and then its group; a session passes on what it got.
constexpr uint32_t kSameRequestMs = 250;

// The handler wakes the window's thread through this pipe; it does nothing else that is not
// safe in a signal handler.
int g_wakeRead = -1;
int g_wakeWrite = -1;
std::atomic<int> g_firstSignal{0};
std::atomic<uint32_t> g_firstMs{0};  // 0: the first signal's time is not noted yet
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<uint32_t>::is_always_lock_free);

uint32_t NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  const uint32_t ms = static_cast<uint32_t>(ts.tv_sec) * 1000U + static_cast<uint32_t>(ts.tv_nsec / 1000000);
  return ms == 0 ? 1 : ms;
}

extern "C" void OnStopSignal(int signo) {
  const int savedErrno = errno;
  const uint32_t now = NowMs();
  int first = 0;
  if (g_firstSignal.compare_exchange_strong(first, signo)) {
    g_firstMs.store(now);
    const char byte = 1;
    const ssize_t ignored = ::write(g_wakeWrite, &byte, 1);
    (void)ignored;
    errno = savedErrno;
    return;
  }
  if (first == signo) {
    const uint32_t firstMs = g_firstMs.load();
    if (firstMs == 0 || now - firstMs < kSameRequestMs) {
      errno = savedErrno;
      return;
    }
  }
  static const char kAgain[] = "fennwick: interrupted again; stopped at once\n";
  const ssize_t ignored = ::write(STDERR_FILENO, kAgain, sizeof kAgain - 1);
  (void)ignored;
  RestoreOpenPortsNow();
  ::_exit(kWindowExitInterrupted);
}

}  // namespace

bool InstallStopSignals() {
  if (g_wakeWrite < 0) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    g_wakeRead = fds[0];
    g_wakeWrite = fds[1];
  }
  struct sigaction stop {};
  stop.sa_handler = OnStopSignal;
  stop.sa_flags = SA_RESTART;
  sigemptyset(&stop.sa_mask);
  for (int s : kStopSignals) sigaddset(&stop.sa_mask, s);
  for (int s : kStopSignals) {
    struct sigaction old {};
    if (::sigaction(s, nullptr, &old) != 0) return false;
    if (old.sa_handler == SIG_IGN) continue;  // nohup, or a shell's background job
    if (::sigaction(s, &stop, nullptr) != 0) return false;
  }
  return true;
}

void WatchStopSignals(QObject& context, std::function<void()> onStop) {
  if (g_wakeRead < 0) return;
  auto* notifier = new QSocketNotifier(static_cast<qintptr>(g_wakeRead), QSocketNotifier::Read, &context);
  QObject::connect(notifier, &QSocketNotifier::activated, &context, [notifier, onStop = std::move(onStop)] {
    char buf[16];
    while (::read(g_wakeRead, buf, sizeof buf) > 0) {
    }
    notifier->setEnabled(false);  // one request; a second signal never comes here
    onStop();
  });
}

bool StopRequested() { return g_firstSignal.load() != 0; }

}  // namespace fennwick
