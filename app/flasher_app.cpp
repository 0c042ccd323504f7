#include "app/flasher_app.h"

namespace fennwick {

namespace {
constexpr uint32_t kShellStartWaitMs = 1000;
}  // namespace

CFlasherApp::CFlasherApp(IShell& shell, IClock& clock) : shell_(shell), clock_(clock) {}

int CFlasherApp::InitInstance(const std::function<int()>& runDialog) {
  ShellExecuteRequest request;
  request.mask = kSeeMaskNoCloseProcess | kSeeMaskFlagNoUi;
  request.verb = u"open";
  request.file = u"Explorer.exe";
  request.show = kSwHide;
  shell_.Execute(request);  // a shell that does not start is no reason to stop

  // The shell creates its task bar some time after it starts.
  clock_.Sleep(kShellStartWaitMs);

  WindowHandle taskBar = shell_.FindWindowByClass(u"HHTaskBar");
  if (shell_.IsWindow(taskBar)) {
    shell_.ShowWindow(taskBar, kSwHide);
  } else {
    taskBar = kNoWindow;
  }

  // Exactly the window that was hidden is shown again, also when the run ends by an
  // exception: a hidden task bar would leave the device without its shell.
  struct RestoreTaskBar {
    IShell& shell;
    WindowHandle window;
    ~RestoreTaskBar() {
      if (window != kNoWindow) shell.ShowWindow(window, kSwShow);
    }
  } restore{shell_, taskBar};

  if (runDialog) runDialog();  // its result (Quit or cancel) does not matter
  return 0;
}

}  // namespace fennwick
