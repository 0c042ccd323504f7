#include <windows.h>
// (after windows.h)
#include <devguid.h>
#include <cfgmgr32.h>
#include <setupapi.h>

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

// "COM3" from the device's own key; empty for a port without a name.
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
  return name;
}

// The device ids from the port up to two parents, as far as the device manager answers.
std::vector<std::string> DeviceIds(DEVINST inst) {
  std::vector<std::string> ids;
  for (int up = 0; up < 3; ++up) {
    wchar_t id[512] = {};
    if (::CM_Get_Device_IDW(inst, id, 511, 0) != CR_SUCCESS) break;
    ids.push_back(Utf8Of(id));
    DEVINST parent = 0;
    if (::CM_Get_Parent(&parent, inst, 0) != CR_SUCCESS) break;
    inst = parent;
  }
  return ids;
}

// The COM ports that the system's device manager knows and that are present.
std::vector<SerialPortInfo> ComPorts() {
  std::vector<ComPortFacts> facts;
  HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) return {};
  SP_DEVINFO_DATA dev{};
  dev.cbSize = sizeof dev;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &dev); ++i) {
    ComPortFacts f;
    f.portName = PortName(set, dev);
    if (f.portName.empty()) continue;
    f.friendlyName = Property(set, dev, SPDRP_FRIENDLYNAME);
    f.description = Property(set, dev, SPDRP_DEVICEDESC);
    f.manufacturer = Property(set, dev, SPDRP_MFG);
    f.deviceIds = DeviceIds(dev.DevInst);
    facts.push_back(std::move(f));
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return ListComPorts(facts);
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
