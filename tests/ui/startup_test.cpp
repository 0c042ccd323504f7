// Start-up and end of the application through a fake shell.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/flasher_app.h"
#include "fake_shell.h"

namespace fennwick {

namespace {

using Calls = std::vector<std::string>;

struct StartupCase {
  const char* name;
  WindowHandle found;     // what the task-bar look-up returns
  WindowHandle existing;  // the handle that names a live window
  Calls expected;
};

TEST(WindowStartup, StepsInOrderAndExactlyTheHiddenTaskBarShownAgain) {
  const StartupCase cases[] = {
      {"task bar present", 42, 42,
       {"execute", "sleep 1000", "find HHTaskBar", "is-window 42", "hide 42", "run", "show 42"}},
      {"no task bar", kNoWindow, kNoWindow, {"execute", "sleep 1000", "find HHTaskBar", "is-window 0", "run"}},
      {"stale handle", 7, kNoWindow, {"execute", "sleep 1000", "find HHTaskBar", "is-window 7", "run"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CallRecord record;
    FakeShell shell(record);
    shell.taskBar = c.found;
    shell.existing = c.existing;
    RecordingClock clock(record);
    CFlasherApp app(shell, clock);
    const int result = app.InitInstance([&] {
      record.Add("run");
      shell.taskBar = 99;  // a task bar that appears later stays untouched
      shell.existing = 99;
      return 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(record.calls, c.expected);
    ASSERT_EQ(shell.requests.size(), 1u);
    const ShellExecuteRequest& r = shell.requests[0];
    EXPECT_EQ(r.mask, 0x440u);
    EXPECT_EQ(r.verb, u"open");
    EXPECT_EQ(r.file, u"Explorer.exe");
    EXPECT_TRUE(r.parameters.empty());
    EXPECT_TRUE(r.directory.empty());
    EXPECT_EQ(r.show, kSwHide);
  }
}

TEST(WindowStartup, TaskBarComesBackWhenTheRunEndsByAnException) {
  CallRecord record;
  FakeShell shell(record);
  shell.taskBar = shell.existing = 5;
  RecordingClock clock(record);
  CFlasherApp app(shell, clock);
  EXPECT_THROW(app.InitInstance([]() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
  EXPECT_EQ(record.calls.back(), "show 5");
}

}  // namespace

}  // namespace fennwick
