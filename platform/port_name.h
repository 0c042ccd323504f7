#pragma once
// The port that the MCU's name stands for on this machine: each system's folder implements it
// (platform/posix/, platform/win32/). A front end resolves the name once, before the port is
// opened; the device then opens the path as it is.
#include <optional>
#include <string>
#include <string_view>

namespace fennwick {

// The port that FENNWICK_PORT names, as the environment holds it (possibly empty); none when
// it is not set.
std::optional<std::string> PortFromEnvironment();

// The system path that a port name opens: a non-empty `given` (--port, else FENNWICK_PORT)
// wins; "COMn:" (any case, the colon optional) is the n-th port (/dev/ttyS(n-1) on POSIX,
// \\.\COMn on Windows, the only spelling that reaches ports above 9, also for a given
// "COMn"); any other name is its own path. Empty when the name is no text.
std::string ResolvePortName(std::u16string_view name, const std::optional<std::string>& given);

}  // namespace fennwick
