#pragma once
// The serial ports of the machine, for `fennwick-cli ports`.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/records/serial_port_info.h"

namespace fennwick {

// What the listing needs to know of one tty, as the system describes it.
struct TtyFacts {
  std::string name;     // ttyAMA0
  std::string devNode;  // /dev/ttyAMA0
  unsigned major = 0, minor = 0;
  bool hasDevice = false;  // a bus device behind it, not a virtual terminal
  // The driver of that device; the serial core's own port and controller devices do not count.
  std::string driver;
  std::string uartType;  // the serial core's UART type ("0": a slot without a UART); empty elsewhere
  bool usb = false;      // the device sits on USB; the fields below come from the USB device
  std::string usbVendor, usbProduct, usbSerial, manufacturer, product;
  std::string latencyTimer;
};

// Where the ttys come from: the machine through libudev, or in tests a directory tree.
class ITtySource {
 public:
  virtual ~ITtySource() = default;
  // Every tty the system has (virtual consoles included); false with `error` set when the
  // system cannot tell.
  virtual bool Ttys(std::vector<TtyFacts>& ttys, std::string& error) const = 0;
  // The kernel's table of tty drivers, as /proc/tty/drivers gives it.
  virtual std::string TtyDrivers() const = 0;
};

class UdevTtySource final : public ITtySource {
 public:
  bool Ttys(std::vector<TtyFacts>& ttys, std::string& error) const override;
  std::string TtyDrivers() const override;
};

// The ttys that are serial ports: those with a device behind them or a serial driver
// (a USB gadget's port has no device in sysfs), whatever the driver's name, except the
// serial core's slots without a UART. Stable names are looked up under `devRoot`/serial.
std::vector<SerialPortInfo> ListSerialPorts(const std::vector<TtyFacts>& ttys, const std::string& ttyDrivers,
                                            const std::string& devRoot = "/dev");

// What the Windows device manager reports of one port: the name in its device key, its texts,
// and the device ids from the port itself up to two parents, as far as they could be asked.
struct ComPortFacts {
  std::string portName;  // "COM3"; a parallel port's "LPT1" or none at all
  std::string friendlyName, description, manufacturer;
  std::vector<std::string> deviceIds;  // e.g. "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000", "USB\VID_0403&PID_6001\A50285BI"
};

// The COM ports among them, in the order of their numbers, each with its USB adapter's ids
// where one of its device ids is a USB device's. Pure, so that every build can test it.
std::vector<SerialPortInfo> ListComPorts(const std::vector<ComPortFacts>& facts);

enum class PortsFormat { Text, Json, Names };

// Prints the list and the device that "COM2:" maps to (as JSON, or only the ports' paths one
// a line); returns the exit code.
int RunPorts(std::FILE* out, std::FILE* err, const std::optional<std::string>& portOverride,
             const ITtySource& source, PortsFormat format, const std::string& devRoot = "/dev");

}  // namespace fennwick
