#include "platform/stop_request.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace fennwick {

namespace {

StopRules g_rules;  // set before the handler goes in; only read after
// The first request: its time in milliseconds shifted left by 8, or'ed with its event + 1.
std::atomic<int64_t> g_request{0};
std::atomic<bool> g_stoppingAtOnce{false};

int64_t NowMs() { return static_cast<int64_t>(::GetTickCount64()); }

void Say(const char* text) {
  if (text == nullptr) return;
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// Ctrl+C and Ctrl+Break are what SIGINT is on Linux, closing the console window what SIGTERM
// is. The system runs the handler on a thread of its own while the run goes on.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  const int64_t now = NowMs();
  const int64_t which = static_cast<int64_t>(event) + 1;
  int64_t first = 0;
  if (g_request.compare_exchange_strong(first, (now << 8) | which)) {
    Say(g_rules.firstNotice);
    return TRUE;
  }
  if ((first & 0xFF) == which && now - (first >> 8) < kSameStopRequestMs) return TRUE;
  Say(g_rules.againNotice);
  // Each event comes on a thread of its own; one of them ends the program.
  if (g_stoppingAtOnce.exchange(true)) {
    for (;;) ::Sleep(INFINITE);
  }
  if (g_rules.atOnce != nullptr) g_rules.atOnce();
  ::ExitProcess(static_cast<UINT>(g_rules.exitCode));
}

}  // namespace

bool InstallStopRequests(const StopRules& rules) {
  g_rules = rules;
  return ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0;
}

bool StopRequested() { return g_request.load() != 0; }

void RequestStop(bool stop) { g_request.store(stop ? (NowMs() << 8) | (CTRL_C_EVENT + 1) : 0); }

int StopWakeDescriptor() { return -1; }

void DrainStopWake() {}

}  // namespace fennwick
