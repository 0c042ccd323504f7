#pragma once
#include "link/mcu_port.h"
#include "platform/posix_serial.h"

namespace fennwick {

extern PosixSerialDevice g_serialDevice;
extern CMcuPort g_mcuPort;

}  // namespace fennwick
