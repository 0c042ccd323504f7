#pragma once
// The log console: printf-style text appended to the log control, and the progress bar.
#include <cstdarg>
#include <cstdint>
#include <string_view>

#include "platform/console.h"

namespace fennwick {

extern ILogEdit* g_logEdit;
extern IProgressCtrl* g_progressCtrl;

constexpr int32_t kLogTrimThreshold = 0x4000;
constexpr int32_t kLogTrimAmount = 0x2000;
constexpr size_t kLogFormatBuffer = 1024;

// To g_logEdit / g_progressCtrl.
void LogPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetProgressRange(int32_t n);
void SetProgressPos(int32_t pos);

// The same on a given pair of controls (several ports, each with its own console). A null
// control makes the call do nothing.
void LogPrintfTo(ILogEdit* edit, const char* format, ...) __attribute__((format(printf, 2, 3)));
void LogVPrintfTo(ILogEdit* edit, const char* format, va_list args) __attribute__((format(printf, 2, 0)));
void SetProgressRangeOn(IProgressCtrl* progress, int32_t n);
void SetProgressPosOn(IProgressCtrl* progress, int32_t pos);

}  // namespace fennwick
