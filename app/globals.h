#pragma once
#include "link/mcu_port.h"
#include "platform/system_serial.h"

namespace fennwick {

extern SystemSerialDevice g_serialDevice;
extern CMcuPort g_mcuPort;
// The MCU's version text and the packet buffer of the one window: its port's own.
extern const char (&g_mcuVersion)[kVersionSize];
extern const uint8_t (&g_packetBuffer)[kPacketBufferSize];

}  // namespace fennwick
