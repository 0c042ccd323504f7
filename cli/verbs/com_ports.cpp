#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "cli/verbs/ports.h"

namespace fennwick {

namespace {

// The value after `tag` ("VID_") in a USB hardware id, in lower case as Linux shows it.
std::string IdField(const std::string& id, const std::string& tag) {
  const size_t at = id.find(tag);
  if (at == std::string::npos) return {};
  std::string v = id.substr(at + tag.size(), 4);
  for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return v;
}

bool PortLess(const SerialPortInfo& a, const SerialPortInfo& b) {
  auto number = [](const std::string& s) { return std::atoi(s.c_str() + 3); };
  return number(a.device) < number(b.device);
}

}  // namespace

std::vector<SerialPortInfo> ListComPorts(const std::vector<ComPortFacts>& facts) {
  std::vector<SerialPortInfo> ports;
  for (const ComPortFacts& f : facts) {
    if (f.portName.rfind("COM", 0) != 0) continue;
    SerialPortInfo info;
    info.device = f.portName;
    info.kind = !f.friendlyName.empty() ? f.friendlyName : f.description;
    info.manufacturer = f.manufacturer;
    // The adapter's USB device is the port's parent (or the port itself for CDC ACM).
    const auto usb = std::find_if(f.deviceIds.begin(), f.deviceIds.end(),
                                  [](const std::string& id) { return id.rfind("USB\\VID_", 0) == 0; });
    if (usb != f.deviceIds.end()) {
      info.usbVendor = IdField(*usb, "VID_");
      info.usbProduct = IdField(*usb, "PID_");
      // The last part is the adapter's serial number when it has one ('&' marks a made-up id).
      const std::string last = usb->substr(usb->rfind('\\') + 1);
      if (last.find('&') == std::string::npos) info.usbSerial = last;
    }
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(), PortLess);
  return ports;
}

}  // namespace fennwick
