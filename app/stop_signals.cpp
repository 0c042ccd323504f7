#include "app/stop_signals.h"

#include <QSocketNotifier>

#include "link/exit_codes.h"
#include "platform/system_serial.h"

namespace fennwick {

bool InstallStopSignals() {
  StopRules rules;
  rules.againNotice = "fennwick: interrupted again; stopped at once\n";
  rules.atOnce = RestoreOpenPortsNow;
  rules.exitCode = kExitInterrupted;
  return InstallStopRequests(rules);
}

void WatchStopSignals(QObject& context, std::function<void()> onStop) {
  const int wake = StopWakeDescriptor();
  if (wake < 0) return;
  auto* notifier = new QSocketNotifier(static_cast<qintptr>(wake), QSocketNotifier::Read, &context);
  QObject::connect(notifier, &QSocketNotifier::activated, &context, [notifier, onStop = std::move(onStop)] {
    DrainStopWake();
    notifier->setEnabled(false);  // one request; a second signal never comes here
    onStop();
  });
}

}  // namespace fennwick
