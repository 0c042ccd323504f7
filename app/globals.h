#pragma once
#include "link/mcu_port.h"
#include "platform/posix_serial.h"

extern PosixSerialDevice g_serialDevice;
extern CMcuPort g_mcuPort;
