#pragma once
#include "link/mcu_port.h"
#include "platform/system_serial.h"

namespace fennwick {

extern SystemSerialDevice g_serialDevice;
extern CMcuPort g_mcuPort;

}  // namespace fennwick
