#pragma once
// Runs a command's job on its boards: one port in this thread with the log on stdout, or
// each of several ports in a thread of its own with a closing table; then each port's
// record goes to the log file and the system log, and the JSON document to stdout.
#include <string>

#include "cli/records/run_record.h"
#include "cli/run/context.h"
#include "cli/run/jobs.h"
#include "platform/file.h"

namespace fennwick {

// What a command hands to its boards besides the job.
struct RunSetup {
  std::string command;  // for the log file, e.g. "program fw.s19"
  RunInfo info;         // the verb, the station, the file read at the start (its CRC-32 is the image every board gets)
};

// Returns the ports' combined exit code.
int RunOnBoards(const CliContext& ctx, const RunSetup& setup, const BoardJob& job);

}  // namespace fennwick
