#pragma once
// The application: starts the device's shell, hides its task bar while the full-screen
// window runs, and shows the task bar again when the window ends.
#include <functional>

#include "platform/clock.h"
#include "platform/shell.h"

namespace fennwick {

class CFlasherApp {
 public:
  explicit CFlasherApp(IShell& shell = DefaultShell(), IClock& clock = DefaultClock());

  // The whole life of the program. `runDialog` constructs the main dialog, runs it
  // modally and destroys it. Returns 0 (FALSE): the program ends afterwards.
  int InitInstance(const std::function<int()>& runDialog);

 private:
  IShell& shell_;
  IClock& clock_;
};

extern CFlasherApp theApp;

}  // namespace fennwick
