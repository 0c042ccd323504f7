#pragma once
// Checks that the parser cannot make, run after parsing and before anything touches a
// port. Each prints its message on ctx.err and returns kExitOk or the exit code.
#include "cli/run/context.h"
#include "link/exit_codes.h"

namespace fennwick {

// No --port given empty, no port given twice (also under another name).
int ValidatePorts(const CliContext& ctx);
// Opens --log-file, if given, into ctx.log: a regular file or a new one.
int OpenLogFile(CliContext& ctx);
// examine --offline compares with a version given by hand, so it needs one.
int ValidateOfflineExamine(const CliContext& ctx, bool offline, bool versionGiven);

}  // namespace fennwick
