#include <windows.h>
// (after windows.h)
#include <devguid.h>
#include <cfgmgr32.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>

#include "cli/records/record_text.h"
#include "cli/records/run_report.h"
#include "cli/verbs/ports.h"
#include "link/protocol.h"
#include "platform/port_name.h"
#include "platform/text.h"

namespace fennwick {

namespace {

std::string Utf8Of(const wchar_t* text) {
  std::string out;
  Utf16ToUtf8(reinterpret_cast<const char16_t*>(text), out);
  return out;
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& dev, DWORD which) {
  wchar_t buf[512] = {};
  if (!::SetupDiGetDeviceRegistryPropertyW(set, &dev, which, nullptr, reinterpret_cast<BYTE*>(buf),
                                           sizeof buf - sizeof(wchar_t), nullptr))
    return {};
  return Utf8Of(buf);
}

// "COM3" from the device's own key; empty for a port without a name (a parallel port).
std::string PortName(HDEVINFO set, SP_DEVINFO_DATA& dev) {
  HKEY key = ::SetupDiOpenDevRegKey(set, &dev, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t buf[64] = {};
  DWORD size = sizeof buf - sizeof(wchar_t);
  DWORD type = 0;
  std::string name;
  if (::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) == ERROR_SUCCESS &&
      type == REG_SZ)
    name = Utf8Of(buf);
  ::RegCloseKey(key);
  return name.rfind("COM", 0) == 0 ? name : std::string();
}

// The value after `tag` ("VID_") in a USB hardware id, in lower case as Linux shows it.
std::string IdField(const std::string& id, const std::string& tag) {
  const size_t at = id.find(tag);
  if (at == std::string::npos) return {};
  std::string v = id.substr(at + tag.size(), 4);
  for (char& c : v) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return v;
}

void AddUsbDetails(HDEVINFO set, SP_DEVINFO_DATA& dev, SerialPortInfo& info) {
  // The adapter's USB device is the port's parent (or the port itself for CDC ACM).
  DEVINST inst = dev.DevInst;
  for (int up = 0; up < 3; ++up) {
    wchar_t id[512] = {};
    if (::CM_Get_Device_IDW(inst, id, 511, 0) != CR_SUCCESS) return;
    const std::string text = Utf8Of(id);
    if (text.rfind("USB\\VID_", 0) == 0) {
      info.usbVendor = IdField(text, "VID_");
      info.usbProduct = IdField(text, "PID_");
      // The last part is the adapter's serial number when it has one ('&' marks a made-up id).
      const std::string last = text.substr(text.rfind('\\') + 1);
      if (last.find('&') == std::string::npos) info.usbSerial = last;
      return;
    }
    DEVINST parent = 0;
    if (::CM_Get_Parent(&parent, inst, 0) != CR_SUCCESS) return;
    inst = parent;
  }
  (void)set;
}

bool PortLess(const SerialPortInfo& a, const SerialPortInfo& b) {
  auto number = [](const std::string& s) { return std::atoi(s.c_str() + 3); };
  return number(a.device) < number(b.device);
}

// The COM ports that the system's device manager knows and that are present.
std::vector<SerialPortInfo> ComPorts() {
  std::vector<SerialPortInfo> ports;
  HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return ports;
  SP_DEVINFO_DATA dev{};
  dev.cbSize = sizeof dev;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
    SerialPortInfo info;
    info.device = PortName(set, dev);
    if (info.device.empty()) continue;
    info.kind = Property(set, dev, SPDRP_FRIENDLYNAME);
    if (info.kind.empty()) info.kind = Property(set, dev, SPDRP_DEVICEDESC);
    info.manufacturer = Property(set, dev, SPDRP_MFG);
    AddUsbDetails(set, dev, info);
    ports.push_back(std::move(info));
  }
  ::SetupDiDestroyDeviceInfoList(set);
  std::sort(ports.begin(), ports.end(), PortLess);
  return ports;
}

}  // namespace

// The device manager, not a tty source, knows the ports here.
bool UdevTtySource::Ttys(std::vector<TtyFacts>&, std::string& error) const {
  error = "no ttys on this system";
  return false;
}
std::string UdevTtySource::TtyDrivers() const { return {}; }

int RunPorts(std::FILE* out, std::FILE* err, const std::optional<std::string>& portOverride, const ITtySource&,
             PortsFormat format, const std::string&) {
  const auto ports = ComPorts();
  const std::string mapped = ResolvePortName(kMcuPortName, portOverride);
  if (format == PortsFormat::Names) {
    for (const auto& p : ports) std::fprintf(out, "%s\n", ShownText(p.device).c_str());
    std::fflush(out);
    return 0;
  }
  if (format == PortsFormat::Json) return WriteJsonDocument(out, err, PortsJsonDocument(ports, mapped), 0);
  if (ports.empty()) std::fputs("no serial ports found\n", out);
  for (const auto& p : ports) {
    std::string line = p.device + "  " + p.kind;
    if (!p.usbVendor.empty()) line += "  " + p.usbVendor + ":" + p.usbProduct;
    if (!p.manufacturer.empty()) line += "  " + p.manufacturer;
    if (!p.usbSerial.empty()) line += "  serial " + p.usbSerial;
    std::fprintf(out, "%s\n", ShownText(line).c_str());  // the device manager's texts and the environment's
  }
  std::fprintf(out, "\"COM2:\" maps to %s\n", ShownText(mapped).c_str());
  return 0;
}

}  // namespace fennwick
