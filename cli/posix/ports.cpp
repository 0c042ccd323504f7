#include "cli/verbs/ports.h"

#include <libudev.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "cli/records/record_text.h"
#include "cli/records/run_report.h"
#include "link/exit_codes.h"
#include "link/protocol.h"
#include "platform/port_name.h"

namespace fennwick {

namespace fs = std::filesystem;

namespace {

std::string Trimmed(std::string line) {
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

// One line of /proc/tty/drivers: "serial  /dev/ttyS  4  64-111  serial".
struct TtyDriver {
  std::string name, type;
  unsigned major = 0, firstMinor = 0, lastMinor = 0;
};

std::vector<TtyDriver> ParseTtyDrivers(const std::string& table) {
  std::vector<TtyDriver> drivers;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    TtyDriver d;
    std::string node, minors;
    if (!(fields >> d.name >> node >> d.major >> minors >> d.type)) continue;
    const auto dash = minors.find('-');
    try {
      d.firstMinor = static_cast<unsigned>(std::stoul(minors.substr(0, dash)));
      d.lastMinor = dash == std::string::npos ? d.firstMinor : static_cast<unsigned>(std::stoul(minors.substr(dash + 1)));
    } catch (const std::exception&) {
      continue;
    }
    drivers.push_back(std::move(d));
  }
  return drivers;
}

const TtyDriver* DriverOf(const std::vector<TtyDriver>& drivers, const TtyFacts& tty) {
  for (const TtyDriver& d : drivers) {
    if (d.major == tty.major && tty.minor >= d.firstMinor && tty.minor <= d.lastMinor) return &d;
  }
  return nullptr;
}

template <typename T, T* (*Free)(T*)>
struct UdevUnref {
  void operator()(T* p) const { Free(p); }
};
using Udev = std::unique_ptr<udev, UdevUnref<udev, udev_unref>>;
using UdevScan = std::unique_ptr<udev_enumerate, UdevUnref<udev_enumerate, udev_enumerate_unref>>;
using UdevDevice = std::unique_ptr<udev_device, UdevUnref<udev_device, udev_device_unref>>;

std::string Text(const char* value) { return value == nullptr ? std::string() : Trimmed(value); }
std::string Attr(udev_device* dev, const char* name) { return Text(udev_device_get_sysattr_value(dev, name)); }

}  // namespace

bool UdevTtySource::Ttys(std::vector<TtyFacts>& ttys, std::string& error) const {
  const Udev context(udev_new());
  const UdevScan scan(context ? udev_enumerate_new(context.get()) : nullptr);
  if (!scan) {
    error = std::strerror(errno != 0 ? errno : ENOMEM);
    return false;
  }
  int rc = udev_enumerate_add_match_subsystem(scan.get(), "tty");
  if (rc >= 0) rc = udev_enumerate_scan_devices(scan.get());
  if (rc < 0) {
    error = std::strerror(-rc);
    return false;
  }
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(scan.get())) {
    const UdevDevice dev(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!dev || udev_device_get_sysname(dev.get()) == nullptr) continue;  // gone meanwhile
    TtyFacts tty;
    tty.name = udev_device_get_sysname(dev.get());
    const char* node = udev_device_get_devnode(dev.get());
    tty.devNode = node != nullptr ? node : "/dev/" + tty.name;
    const dev_t number = udev_device_get_devnum(dev.get());
    tty.major = ::major(number);
    tty.minor = ::minor(number);
    tty.uartType = Attr(dev.get(), "type");
    // Parents belong to their child: no unref.
    udev_device* parent = udev_device_get_parent(dev.get());
    tty.hasDevice = parent != nullptr;
    if (parent != nullptr) tty.latencyTimer = Attr(parent, "latency_timer");
    while (parent != nullptr && Text(udev_device_get_subsystem(parent)) == "serial-base") {
      parent = udev_device_get_parent(parent);
    }
    if (parent != nullptr) tty.driver = Text(udev_device_get_driver(parent));
    if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev.get(), "usb", "usb_device")) {
      tty.usb = true;
      tty.usbVendor = Attr(usb, "idVendor");
      tty.usbProduct = Attr(usb, "idProduct");
      tty.usbSerial = Attr(usb, "serial");
      tty.manufacturer = Attr(usb, "manufacturer");
      tty.product = Attr(usb, "product");
    }
    ttys.push_back(std::move(tty));
  }
  return true;
}

std::string UdevTtySource::TtyDrivers() const {
  std::ifstream in("/proc/tty/drivers");
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<SerialPortInfo> ListSerialPorts(const std::vector<TtyFacts>& ttys, const std::string& ttyDrivers,
                                            const std::string& devRoot) {
  const std::vector<TtyDriver> drivers = ParseTtyDrivers(ttyDrivers);
  std::vector<SerialPortInfo> ports;
  for (const TtyFacts& tty : ttys) {
    // The kernel registers many 8250 slots; only those with a known UART type are real.
    if (tty.uartType == "0") continue;
    const TtyDriver* ttyDriver = DriverOf(drivers, tty);
    const bool serialDriver = ttyDriver != nullptr && ttyDriver->type == "serial";
    if (!tty.hasDevice && !serialDriver) continue;
    SerialPortInfo info;
    info.device = tty.devNode;
    info.driver = !tty.driver.empty() ? tty.driver : ttyDriver != nullptr ? ttyDriver->name : std::string();
    if (tty.usb) {
      info.kind = tty.driver == "cdc_acm" ? "USB modem (CDC ACM)" : "USB serial";
      info.usbVendor = tty.usbVendor;
      info.usbProduct = tty.usbProduct;
      info.usbSerial = tty.usbSerial;
      info.manufacturer = tty.manufacturer;
      info.product = tty.product;
    } else {
      info.kind = tty.uartType.empty() ? "serial" : "UART";
    }
    info.latencyTimerMs = tty.latencyTimer;
    info.byId = LinksTo(fs::path(devRoot) / "serial" / "by-id", tty.name);
    info.byPath = LinksTo(fs::path(devRoot) / "serial" / "by-path", tty.name);
    ports.push_back(std::move(info));
  }
  std::sort(ports.begin(), ports.end(), DeviceLess);
  return ports;
}

int RunPorts(std::FILE* out, std::FILE* err, const std::optional<std::string>& portOverride,
             const ITtySource& source, PortsFormat format, const std::string& devRoot) {
  std::vector<TtyFacts> ttys;
  std::string why;
  if (!source.Ttys(ttys, why)) {
    std::fprintf(err, "fennwick-cli: cannot list the serial ports: %s\n", why.c_str());
    return kExitFailure;
  }
  const auto ports = ListSerialPorts(ttys, source.TtyDrivers(), devRoot);
  const std::string mapped = ResolvePortName(kMcuPortName, portOverride);
  if (format == PortsFormat::Names) {
    for (const auto& p : ports) std::fprintf(out, "%s\n", ShownText(p.device).c_str());
    std::fflush(out);
    return kExitOk;
  }
  if (format == PortsFormat::Json) {
    return WriteJsonDocument(out, err, PortsJsonDocument(ports, mapped), kExitOk);
  }
  if (ports.empty()) std::fputs("no serial ports found\n", out);
  // Every text here comes from the system, a device or the environment: none may break a
  // line or reach the terminal as a control sequence.
  for (const auto& p : ports) {
    std::string line = p.device + "  " + p.kind;
    if (!p.driver.empty()) line += " (" + p.driver + ")";
    if (!p.usbVendor.empty()) line += "  " + p.usbVendor + ":" + p.usbProduct;
    const std::string name = p.manufacturer.empty() ? p.product : p.manufacturer + " " + p.product;
    if (!name.empty() && name != " ") line += "  " + name;
    if (!p.usbSerial.empty()) line += "  serial " + p.usbSerial;
    if (!p.latencyTimerMs.empty()) line += "  latency timer " + p.latencyTimerMs + " ms";
    std::fprintf(out, "%s\n", ShownText(line).c_str());
    for (const std::string& link : p.byId) std::fprintf(out, "  by-id: %s\n", ShownText(link).c_str());
    for (const std::string& link : p.byPath) std::fprintf(out, "  by-path: %s\n", ShownText(link).c_str());
  }
  std::error_code ec;
  const bool exists = fs::exists(mapped, ec);
  std::fprintf(out, "\"COM2:\" maps to %s%s\n", ShownText(mapped).c_str(), exists ? "" : " (no such device)");
  return kExitOk;
}

}  // namespace fennwick
