#pragma once

namespace fennwick {
// Standard descriptors for a program started with some of them closed.

// Opens /dev/null on whichever of descriptors 0, 1 and 2 is closed. A program must call it
// before it opens anything else: a serial port opened as descriptor 1 would otherwise
// receive everything written to stdout. False when /dev/null cannot be opened.
bool EnsureStandardDescriptors();

}  // namespace fennwick
