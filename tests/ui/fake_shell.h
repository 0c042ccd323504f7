#pragma once
// A shell and a clock that write every call into one shared record, so that tests see
// the order of start-up steps.
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/shell.h"

namespace fennwick {

class CallRecord {
 public:
  void Add(std::string call) { calls.push_back(std::move(call)); }
  std::vector<std::string> calls;
};

class FakeShell final : public IShell {
 public:
  explicit FakeShell(CallRecord& record) : record_(record) {}
  bool Execute(const ShellExecuteRequest& r) override {
    requests.push_back(r);
    record_.Add("execute");
    return true;
  }
  WindowHandle FindWindowByClass(const std::u16string& className) override {
    record_.Add(className == u"HHTaskBar" ? "find HHTaskBar" : "find other");
    return taskBar;
  }
  bool IsWindow(WindowHandle w) override {
    record_.Add("is-window " + std::to_string(w));
    return w != kNoWindow && w == existing;
  }
  void ShowWindow(WindowHandle w, int command) override {
    record_.Add((command == kSwHide ? "hide " : command == kSwShow ? "show " : "show? ") + std::to_string(w));
  }

  WindowHandle taskBar = kNoWindow;  // what the look-up finds
  WindowHandle existing = kNoWindow;  // which handle names a live window
  std::vector<ShellExecuteRequest> requests;

 private:
  CallRecord& record_;
};

class RecordingClock final : public IClock {
 public:
  explicit RecordingClock(CallRecord& record) : record_(record) {}
  uint32_t TickCount() override { return now_; }
  void Sleep(uint32_t ms) override {
    now_ += ms;
    record_.Add("sleep " + std::to_string(ms));
  }

 private:
  CallRecord& record_;
  uint32_t now_ = 0;
};

}  // namespace fennwick
