#pragma once
// One serial port of the machine as `fennwick-cli ports` lists it, as text and as JSON.
#include <string>
#include <vector>

namespace fennwick {

struct SerialPortInfo {
  std::string device;  // /dev/ttyUSB0
  std::string kind;    // "UART", "USB serial", "USB modem (CDC ACM)", "serial"
  std::string driver;  // ftdi_sio, uart-pl011, serial8250, g_serial, ...
  std::string usbVendor, usbProduct, usbSerial, manufacturer, product;
  std::string latencyTimerMs;  // a USB adapter's latency timer where its driver exposes one
  // Stable names that udev links to the device (/dev/serial/by-id/..., /dev/serial/by-path/...).
  std::vector<std::string> byId, byPath;
};

}  // namespace fennwick
