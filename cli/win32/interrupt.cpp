#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "cli/records/interrupt.h"
#include "cli/records/interrupt_records.h"

namespace fennwick {

namespace {

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
  return InstallStopRequests(CommandLineStopRules());
}

}  // namespace fennwick
