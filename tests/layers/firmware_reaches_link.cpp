// Built only by the Layers test, with firmware/'s include paths: the firmware and platform
// headers resolve, the link/ header must not. The test passes only on that missing file.
#include "firmware/examine.h"
#include "platform/file.h"
#include "link/mcu_port.h"

namespace fennwick {

int FirmwareReachesLink() { return kVersionSize > 0 ? 1 : 0; }

}  // namespace fennwick
