#include "platform/stop_request.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace fennwick {

namespace {

StopRules g_rules;  // set before the handlers go in; only read after
// The first request: its time in milliseconds shifted left by 8, or'ed with its signal.
std::atomic<int64_t> g_request{0};
std::atomic<bool> g_stoppingAtOnce{false};
// The handler wakes an event loop through this pipe.
int g_wakeRead = -1;
int g_wakeWrite = -1;
static_assert(std::atomic<int64_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

int64_t NowMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Say(const char* text) {
  if (text == nullptr) return;
  const ssize_t ignored = ::write(STDERR_FILENO, text, ::strlen(text));
  (void)ignored;
}

void Wake() {
  if (g_wakeWrite < 0) return;
  const char byte = 1;
  const ssize_t ignored = ::write(g_wakeWrite, &byte, 1);
  (void)ignored;
}

[[noreturn]] void StopAtOnce(const char* why) {
  Say(why);
  // Several threads may take signals at once; one of them ends the program.
  if (g_stoppingAtOnce.exchange(true)) {
    for (;;) ::pause();
  }
  if (g_rules.atOnce != nullptr) g_rules.atOnce();
  ::_exit(g_rules.exitCode);
}

extern "C" void OnStopSignal(int sig) {
  const int savedErrno = errno;
  if (sig == SIGQUIT) StopAtOnce(g_rules.quitNotice);
  const int64_t now = NowMs();
  int64_t first = 0;
  if (g_request.compare_exchange_strong(first, (now << 8) | sig)) {
    Say(g_rules.firstNotice);
    Wake();
    errno = savedErrno;
    return;
  }
  if ((first & 0xFF) == sig && now - (first >> 8) < kSameStopRequestMs) {
    errno = savedErrno;
    return;  // the same request delivered twice
  }
  StopAtOnce(g_rules.againNotice);
}

}  // namespace

bool InstallStopRequests(const StopRules& rules) {
  g_rules = rules;
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
  // A stop at once must not be cut by another stop signal in the same thread.
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stop.sa_mask, sig);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    if (sig == SIGQUIT && rules.quitNotice == nullptr) continue;
    struct sigaction before {};
    if (::sigaction(sig, nullptr, &before) != 0) return false;
    const bool keep = rules.keepIgnored || sig == SIGHUP || sig == SIGQUIT;
    if (keep && before.sa_handler == SIG_IGN) continue;
    if (::sigaction(sig, &stop, nullptr) != 0) return false;
  }
  return true;
}

bool StopRequested() { return g_request.load() != 0; }

void RequestStop(bool stop) {
  g_request.store(stop ? (NowMs() << 8) | SIGTERM : 0);
  if (stop) Wake();
}

int StopWakeDescriptor() { return g_wakeRead; }

void DrainStopWake() {
  if (g_wakeRead < 0) return;
  char buf[16];
  while (::read(g_wakeRead, buf, sizeof buf) > 0) {
  }
}

}  // namespace fennwick
