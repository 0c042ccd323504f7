#include "cli/records/system_log.h"

namespace fennwick {

// Windows has neither the journal nor a syslog socket; --syslog is refused before a run.
SystemLogSockets::SystemLogSockets() = default;

bool SendToSystemLog(const SystemLogSockets&, const RunInfo&, const RunRecord&, std::string& whyNot) {
  whyNot = "there is no system log on Windows";
  return false;
}

}  // namespace fennwick
