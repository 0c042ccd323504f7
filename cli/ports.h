#pragma once
// The serial ports of the machine, for `fennwick-cli ports`.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace fennwick {

struct SerialPortInfo {
  std::string device;  // /dev/ttyUSB0
  std::string kind;    // "16550-style port", "USB serial", "USB modem (CDC ACM)"
  std::string usbVendor, usbProduct, usbSerial, manufacturer, product;
  // Stable names that udev links to the device (/dev/serial/by-id/..., /dev/serial/by-path/...).
  std::vector<std::string> byId, byPath;
};

// Ports with hardware behind them: /dev/ttyS* whose UART type is known, every /dev/ttyUSB*
// and /dev/ttyACM*. The roots are parameters so that tests can lay out their own tree.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot = "/sys", const std::string& devRoot = "/dev");

// Prints the list and the device that "COM2:" maps to (as JSON with `json`); returns the
// exit code.
int RunPorts(std::FILE* out, const std::optional<std::string>& portOverride, const std::string& sysRoot = "/sys",
             const std::string& devRoot = "/dev", bool json = false);

}  // namespace fennwick
