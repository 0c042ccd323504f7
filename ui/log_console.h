#pragma once
// The window's log console: printf-style text appended to the log control, and the
// progress bar; and the window as a run's observer, whose events reach the same controls.
#include <cstdarg>
#include <cstdint>
#include <string_view>

#include "link/run_events.h"
#include "ui/control_interfaces.h"

namespace fennwick {

extern ILogEdit* g_logEdit;
extern IProgressCtrl* g_progressCtrl;

constexpr int32_t kLogTrimThreshold = 0x4000;
constexpr int32_t kLogTrimAmount = 0x2000;

// To g_logEdit / g_progressCtrl.
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetProgressRange(int32_t n);
void SetProgressPos(int32_t pos);

// The same on a given pair of controls. A null control makes the call do nothing.
void LogPrintfTo(ILogEdit* edit, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogVPrintfTo(ILogEdit* edit, const char* format, va_list args) __attribute__((format(printf, 2, 0)));
// Appends text already formatted (at most 1,023 bytes are taken), trimming as LogPrintf does.
void AppendLogText(ILogEdit* edit, std::string_view text);
void SetProgressRangeOn(IProgressCtrl* progress, int32_t n);
void SetProgressPosOn(IProgressCtrl* progress, int32_t pos);

// A run's events on the window's controls, through g_logEdit and g_progressCtrl: what the
// window's port reports. Its end changes nothing: the worker resets the bar itself.
IRunObserver& WindowConsole();

}  // namespace fennwick
