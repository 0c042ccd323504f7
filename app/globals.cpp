// The program's global objects, constructed at load in this order and destroyed in the
// reverse order after main returns. The port stays open until the process ends.
#include "app/flasher_app.h"
#include "app/globals.h"

namespace fennwick {

CFlasherApp theApp;
SystemSerialDevice g_serialDevice;
CMcuPort g_mcuPort(g_serialDevice, DefaultClock());
const char (&g_mcuVersion)[kVersionSize] = g_mcuPort.McuVersion();
const uint8_t (&g_packetBuffer)[kPacketBufferSize] = g_mcuPort.PacketBuffer();

}  // namespace fennwick
