#pragma once
// The command line's verbs, apart from option parsing so that tests can call them.
#include <string>

#include "cli/run/context.h"
#include "link/exit_codes.h"

namespace fennwick {

int RunIdentify(const CliContext& ctx);
int RunExamine(const CliContext& ctx, const std::string& file, bool offline, const std::string& mcuVersion);
int RunProgram(const CliContext& ctx, const std::string& file, bool force);
int RunCheckFile(const CliContext& ctx, const std::string& file);

}  // namespace fennwick
