#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

#include "cli/exit_codes.h"
#include "cli/interrupt.h"
#include "cli/interrupt_records.h"
#include "platform/system_serial.h"

namespace fennwick {

namespace {

std::atomic<int> g_signals{0};
std::atomic<bool> g_stoppingAtOnce{false};

void Say(const char* text) {
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::char_traits<char>::length(text)),
              &written, nullptr);
}

// Ctrl+C and Ctrl+Break are what SIGINT is on Linux, closing the console window what SIGTERM
// is. The system runs the handler on a thread of its own while the run goes on.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  if (g_signals.fetch_add(1) == 0) {
    Say("fennwick-cli: stopping; a block in flight is the last (another signal stops at once)\n");
    return TRUE;
  }
  Say("fennwick-cli: interrupted again; stopped at once\n");
  // Each event comes on a thread of its own; one of them ends the program.
  if (g_stoppingAtOnce.exchange(true)) {
    for (;;) ::Sleep(INFINITE);
  }
  AppendPreparedRecords();
  RestoreOpenPortsNow();
  ::ExitProcess(kExitInterrupted);
}

// Virtual-terminal sequences where the console takes them (the progress display needs
// them); elsewhere the console gets plain lines, as a pipe does.
void PrepareConsole(DWORD which) {
  HANDLE h = ::GetStdHandle(which);
  DWORD mode = 0;
  if (h == nullptr || h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return;
  ::SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace

int64_t MonotonicMs() { return static_cast<int64_t>(::GetTickCount64()); }

void WriteWhole(int fd, const char* text, size_t size) {
  const int ignored = ::_write(fd, text, static_cast<unsigned>(size));
  (void)ignored;
}

bool PrepareProcess() {
  // Our texts are UTF-8 and our line ends are the log's own: no translation on the way out.
  ::SetConsoleOutputCP(CP_UTF8);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  _setmode(_fileno(stdin), _O_BINARY);
  PrepareConsole(STD_OUTPUT_HANDLE);
  PrepareConsole(STD_ERROR_HANDLE);
  return ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

bool StopRequested() { return g_signals.load() > 0; }

void RequestStop(bool stop) { g_signals.store(stop ? 1 : 0); }

}  // namespace fennwick
