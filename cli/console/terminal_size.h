#pragma once
// The terminal's width as each system tells it (cli/posix/, cli/win32/).
#include <cstddef>

namespace fennwick {

// The width of the terminal on `fd`, 80 when it does not say.
size_t TerminalColumns(int fd);
// Watches for the terminal's resizes (SIGWINCH); safe to call more than once.
void WatchTerminalSize();
// Counts the resizes seen: a display asks the terminal again when the count moves.
unsigned TerminalResizes();

}  // namespace fennwick
