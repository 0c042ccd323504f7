#include <io.h>
#include <windows.h>

#include <atomic>

#include "cli/console/terminal_size.h"

namespace fennwick {

namespace {

// The console sends no signal when its window changes: the count moves when a look at the
// window finds a new width.
std::atomic<unsigned> g_resizes{0};
std::atomic<size_t> g_lastColumns{0};

size_t WindowColumns(HANDLE h) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(h, &info)) return 0;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<size_t>(columns) : 0;
}

}  // namespace

size_t TerminalColumns(int fd) {
  const size_t columns = WindowColumns(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
  return columns == 0 ? 80 : columns;
}

void WatchTerminalSize() {}

unsigned TerminalResizes() {
  const size_t columns = WindowColumns(::GetStdHandle(STD_ERROR_HANDLE));
  if (columns != 0 && g_lastColumns.exchange(columns, std::memory_order_relaxed) != columns) {
    g_resizes.fetch_add(1, std::memory_order_relaxed);
  }
  return g_resizes.load(std::memory_order_relaxed);
}

}  // namespace fennwick
