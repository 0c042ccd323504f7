#pragma once
// fennwick-cli's whole run, from its arguments to its exit code, for its main() and for the
// benchmarks' drivers.
#include "cli/verbs/commands.h"

namespace fennwick {

// `wrap` stands a device between each board's port object and its line; empty: none.
int RunCommandLine(int argc, char** argv, const SerialWrap& wrap = {});

}  // namespace fennwick
