#pragma once
// A run's summary in the system log (--syslog): the journal's structured entry where the
// journal runs, else one line to the syslog socket; a log that takes neither is a record
// that could not be written.
#include <string>

#include "cli/records/run_record.h"

namespace fennwick {

struct SystemLogSockets {
  // FENNWICK_SYSLOG_SOCKET, when set, points the syslog line elsewhere and leaves the
  // journal out (how the tests see an unreachable or a listening log).
  SystemLogSockets();
  std::string syslog;   // "/dev/log"
  std::string journal;  // the journal's socket; empty: never the journal
};

// Sends one port's run. False, with the reason, when no system log took it.
bool SendToSystemLog(const SystemLogSockets& sockets, const RunInfo& info, const RunRecord& run,
                     std::string& whyNot);

}  // namespace fennwick
