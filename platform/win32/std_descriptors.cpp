#include "platform/std_descriptors.h"

namespace fennwick {

// A Windows program always has its three standard handles (possibly null ones), and none of
// our files or ports can take their place.
bool EnsureStandardDescriptors() { return true; }

}  // namespace fennwick
