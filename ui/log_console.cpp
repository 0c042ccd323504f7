#include "ui/log_console.h"

#include <cstdio>
#include <string>

#include "platform/text.h"

namespace fennwick {

ILogEdit* g_logEdit = nullptr;
IProgressCtrl* g_progressCtrl = nullptr;

namespace {

class WindowObserver final : public IRunObserver {
 public:
  void LogText(std::string_view text) override { AppendLogText(g_logEdit, text); }
  void ProgressRange(int32_t high) override { SetProgressRange(high); }
  void ProgressPos(int32_t pos) override { SetProgressPos(pos); }
  void RunEnded(JobEnd, std::string_view) override {}
};

}  // namespace

void AppendLogText(ILogEdit* edit, std::string_view text) {
  if (edit == nullptr) return;
  if (text.size() >= kLogFormatBuffer) text = text.substr(0, kLogFormatBuffer - 1);
  int32_t len = edit->GetWindowTextLength();
  if (len >= kLogTrimThreshold) {
    edit->SetSel(0, kLogTrimAmount);
    edit->ScrollCaret();
    edit->Clear();
    len = edit->GetWindowTextLength();
  }
  edit->SetSel(len, len);
  edit->ScrollCaret();
  edit->ReplaceSel(Cp1252ToUtf16(text));
}

void LogVPrintfTo(ILogEdit* edit, const char* format, va_list args) {
  if (edit == nullptr) return;
  // Longer output is cut at 1,023 bytes: vsnprintf never writes past the buffer.
  char text[kLogFormatBuffer];
  const int n = std::vsnprintf(text, sizeof text, format, args);
  if (n < 0) text[0] = '\0';
  AppendLogText(edit, text);
}

void LogPrintfTo(ILogEdit* edit, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogVPrintfTo(edit, format, args);
  va_end(args);
}

void LogPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogVPrintfTo(g_logEdit, format, args);
  va_end(args);
}

void SetProgressRangeOn(IProgressCtrl* progress, int32_t n) {
  if (progress == nullptr) return;
  progress->SetRange32(0, n);
  progress->SetStep(1);
  progress->SetPos(0);
}

void SetProgressPosOn(IProgressCtrl* progress, int32_t pos) {
  if (progress == nullptr) return;
  progress->SetPos(pos);
  progress->Invalidate();
}

void SetProgressRange(int32_t n) { SetProgressRangeOn(g_progressCtrl, n); }
void SetProgressPos(int32_t pos) { SetProgressPosOn(g_progressCtrl, pos); }

IRunObserver& WindowConsole() {
  static WindowObserver observer;
  return observer;
}

}  // namespace fennwick
