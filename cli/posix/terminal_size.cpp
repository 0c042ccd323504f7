#include <signal.h>
#include <sys/ioctl.h>

#include <atomic>
#include <mutex>

#include "cli/console/terminal_size.h"

namespace fennwick {

namespace {

std::atomic<unsigned> g_resizes{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

extern "C" void OnResize(int) { g_resizes.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

size_t TerminalColumns(int fd) {
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return 80;
  return size.ws_col;
}

void WatchTerminalSize() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction resize {};
    resize.sa_handler = OnResize;
    resize.sa_flags = SA_RESTART;
    sigemptyset(&resize.sa_mask);
    ::sigaction(SIGWINCH, &resize, nullptr);
  });
}

unsigned TerminalResizes() { return g_resizes.load(std::memory_order_relaxed); }

}  // namespace fennwick
