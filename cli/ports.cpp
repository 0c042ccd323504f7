#include "cli/ports.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cli/run_report.h"
#include "link/protocol.h"
#include "platform/posix_serial.h"

namespace fennwick {

namespace fs = std::filesystem;

namespace {

std::string ReadLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  return line;
}

// Natural order: ttyS2 before ttyS10.
bool DeviceLess(const SerialPortInfo& a, const SerialPortInfo& b) {
  auto split = [](const std::string& s) {
    size_t i = s.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
    return std::make_pair(s.substr(0, i), i < s.size() ? std::stol(s.substr(i)) : -1L);
  };
  return split(a.device) < split(b.device);
}

void AddUsbDetails(const fs::path& ttyDir, SerialPortInfo& info) {
  std::error_code ec;
  fs::path dir = fs::canonical(ttyDir / "device", ec);
  if (ec) return;
  // The USB device is the first ancestor of the interface that carries idVendor.
  for (int up = 0; up < 6 && !dir.empty() && dir != dir.root_path(); ++up, dir = dir.parent_path()) {
    if (fs::exists(dir / "idVendor", ec)) {
      info.usbVendor = ReadLine(dir / "idVendor");
      info.usbProduct = ReadLine(dir / "idProduct");
      info.usbSerial = ReadLine(dir / "serial");
      info.manufacturer = ReadLine(dir / "manufacturer");
      info.product = ReadLine(dir / "product");
      return;
    }
  }
}

// The links in `dir` that point at the device named `name` (udev makes them relative).
std::vector<std::string> LinksTo(const fs::path& dir, const std::string& name) {
  std::vector<std::string> links;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    std::error_code linkEc;
    const fs::path target = fs::read_symlink(entry.path(), linkEc);
    if (!linkEc && target.filename() == name) links.push_back(entry.path().string());
  }
  std::sort(links.begin(), links.end());
  return links;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
  std::vector<SerialPortInfo> ports;
  std::error_code ec;
  const fs::path classDir = fs::path(sysRoot) / "class" / "tty";
  for (const auto& entry : fs::directory_iterator(classDir, ec)) {
    const std::string name = entry.path().filename().string();
    SerialPortInfo info;
    info.device = (fs::path(devRoot) / name).string();
    if (name.rfind("ttyUSB", 0) == 0) {
      info.kind = "USB serial";
      AddUsbDetails(entry.path(), info);
    } else if (name.rfind("ttyACM", 0) == 0) {
      info.kind = "USB modem (CDC ACM)";
      AddUsbDetails(entry.path(), info);
    } else if (name.rfind("ttyS", 0) == 0 && name.size() > 4) {
      // The kernel registers many 16550 slots; only those with a known UART type are real.
      const std::string type = ReadLine(entry.path() / "type");
      if (type.empty() || type == "0") continue;
      info.kind = "16550-style port";
    } else {
      continue;
    }
    info.byId = LinksTo(fs::path(devRoot) / "serial" / "by-id", name);
    info.byPath = LinksTo(fs::path(devRoot) / "serial" / "by-path", name);
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(), DeviceLess);
  return ports;
}

int RunPorts(std::FILE* out, const std::optional<std::string>& portOverride, const std::string& sysRoot,
             const std::string& devRoot, bool json) {
  const auto ports = ListSerialPorts(sysRoot, devRoot);
  if (json) {
    const std::string mapped = PosixSerialDevice::MapPortName(kMcuPortName, portOverride);
    std::fputs(PortsJsonDocument(ports, mapped).c_str(), out);
    std::fflush(out);
    return 0;
  }
  if (ports.empty()) std::fputs("no serial ports found\n", out);
  for (const auto& p : ports) {
    std::string line = p.device + "  " + p.kind;
    if (!p.usbVendor.empty()) line += "  " + p.usbVendor + ":" + p.usbProduct;
    const std::string name = p.manufacturer.empty() ? p.product : p.manufacturer + " " + p.product;
    if (!name.empty() && name != " ") line += "  " + name;
    if (!p.usbSerial.empty()) line += "  serial " + p.usbSerial;
    std::fprintf(out, "%s\n", line.c_str());
    for (const std::string& link : p.byId) std::fprintf(out, "  by-id: %s\n", link.c_str());
    for (const std::string& link : p.byPath) std::fprintf(out, "  by-path: %s\n", link.c_str());
  }
  const std::string mapped = PosixSerialDevice::MapPortName(kMcuPortName, portOverride);
  std::error_code ec;
  const bool exists = fs::exists(mapped, ec);
  std::fprintf(out, "\"COM2:\" maps to %s%s\n", mapped.c_str(), exists ? "" : " (no such device)");
  return 0;
}

}  // namespace fennwick
