// The command line's own pieces: port listing, the run log file, several boards' output.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/console/console_parts.h"
#include "cli/console/multi_display.h"
#include "cli/console/output_text.h"
#include "cli/console/terminal_console.h"
#include "cli/records/log_file.h"
#include "cli/records/run_report.h"
#include "cli/run/board.h"
#include "cli/verbs/commands.h"
#include "cli/verbs/ports.h"
#include "fakes/fake_console.h"
#include "fakes/stream_capture.h"
#include "fakes/temp_dir.h"

namespace fennwick {

namespace fs = std::filesystem;

namespace {

struct Tree {
  void Write(const std::string& rel, const std::string& text) {
    const fs::path p = fs::path(root) / rel;
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  TempDir tmp;
  const std::string root{tmp.path};
};

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A directory tree laid out like /sys: class/tty/NAME with its `dev`, `type` and `device`
// link; devices with `driver` and `subsystem` links, USB attributes and `latency_timer`.
class TreeTtySource final : public ITtySource {
 public:
  TreeTtySource(std::string sysRoot, std::string drivers) : sys_(std::move(sysRoot)), drivers_(std::move(drivers)) {}
  bool Ttys(std::vector<TtyFacts>& ttys, std::string& error) const override {
    std::error_code ec;
    const fs::directory_iterator ttyClass(fs::path(sys_) / "class/tty", ec);
    if (ec) error = ec.message();
    for (const auto& entry : ec ? fs::directory_iterator() : ttyClass) {
      TtyFacts tty;
      tty.name = entry.path().filename().string();
      tty.devNode = "/dev/" + tty.name;
      std::sscanf(Slurp(entry.path() / "dev").c_str(), "%u:%u", &tty.major, &tty.minor);
      tty.uartType = Line(entry.path() / "type");
      fs::path dev = fs::canonical(entry.path() / "device", ec);
      tty.hasDevice = !ec;
      if (tty.hasDevice) {
        tty.latencyTimer = Line(dev / "latency_timer");
        while (fs::read_symlink(dev / "subsystem", ec).filename() == "serial-base") dev = dev.parent_path();
        tty.driver = fs::read_symlink(dev / "driver", ec).filename().string();
        for (fs::path up = dev; up.string().size() > sys_.size(); up = up.parent_path()) {
          if (!fs::exists(up / "idVendor")) continue;
          tty.usb = true;
          tty.usbVendor = Line(up / "idVendor");
          tty.usbProduct = Line(up / "idProduct");
          tty.usbSerial = Line(up / "serial");
          break;
        }
      }
      ttys.push_back(std::move(tty));
    }
    return error.empty();
  }
  std::string TtyDrivers() const override { return drivers_; }

 private:
  static std::string Line(const fs::path& file) { return Slurp(file.string()).substr(0, Slurp(file.string()).find('\n')); }
  std::string sys_, drivers_;
};

// A tty named `name` whose device (if any) is `device` under sys/devices, bound to `driver`.
void AddTty(Tree& sys, const std::string& name, const std::string& device, const std::string& driver,
            const std::string& type = "") {
  sys.Write("class/tty/" + name + "/dev", "0:0\n");
  if (!type.empty()) sys.Write("class/tty/" + name + "/type", type + "\n");
  if (device.empty()) return;
  const fs::path dir = fs::path(sys.root) / "devices" / device;
  fs::create_directories(dir);
  fs::create_directory_symlink(dir, fs::path(sys.root) / "class/tty" / name / "device");
  fs::create_directories(fs::path(sys.root) / "bus/drivers" / driver);
  if (!fs::exists(dir / "driver")) fs::create_directory_symlink(fs::path(sys.root) / "bus/drivers" / driver, dir / "driver");
}

TEST(Ports, EverySerialTtyIsListedWhateverItsDriversNameWithItsDriverAndUsbDetails) {
  Tree sys;
  // An on-board 8250 port behind the serial core's port device, and a slot without a UART.
  AddTty(sys, "ttyS0", "pnp0/00:05/00:05:0.0", "port", "4");
  const fs::path pnp = fs::path(sys.root) / "devices/pnp0/00:05";
  fs::create_directory_symlink(fs::path(sys.root) / "bus/serial-base", pnp / "00:05:0.0/subsystem");
  fs::create_directory_symlink(fs::path(sys.root) / "bus/drivers/serial", pnp / "driver");
  AddTty(sys, "ttyS1", "platform/serial8250", "serial8250", "0");
  // The UARTs of ARM panels: only the driver tells them apart from a virtual terminal.
  AddTty(sys, "ttyAMA0", "platform/fe201000.serial", "uart-pl011", "32");
  AddTty(sys, "ttymxc1", "platform/30890000.serial", "imx-uart", "1");
  AddTty(sys, "ttySTM0", "platform/40011000.serial", "stm32-usart", "1");
  AddTty(sys, "ttyO2", "platform/48020000.serial", "omap_uart", "1");
  AddTty(sys, "ttyTHS1", "platform/3110000.serial", "serial-tegra", "1");
  // A USB gadget's port and a virtual console have no device behind them; their drivers differ.
  AddTty(sys, "ttyGS0", "", "");
  sys.Write("class/tty/ttyGS0/dev", "241:0\n");
  AddTty(sys, "tty1", "", "");
  sys.Write("class/tty/tty1/dev", "4:1\n");
  AddTty(sys, "ttyUSB0", "usb1/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
  sys.Write("devices/usb1/1-1/idVendor", "0403\n");
  sys.Write("devices/usb1/1-1/idProduct", "6001\n");
  sys.Write("devices/usb1/1-1/serial", "A50285BI\n");
  sys.Write("devices/usb1/1-1/1-1:1.0/ttyUSB0/latency_timer", "16\n");
  AddTty(sys, "ttyACM0", "usb1/1-2/1-2:1.0", "cdc_acm");
  sys.Write("devices/usb1/1-2/idVendor", "2341\n");
  const TreeTtySource source(sys.root, "unknown /dev/tty 4 1-63 console\ng_serial /dev/ttyGS 241 0-3 serial\n");

  const std::string names = Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, source, PortsFormat::Names); });
  EXPECT_EQ(names, "/dev/ttyACM0\n/dev/ttyAMA0\n/dev/ttyGS0\n/dev/ttyO2\n/dev/ttyS0\n/dev/ttySTM0\n/dev/ttyTHS1\n"
                   "/dev/ttyUSB0\n/dev/ttymxc1\n");
  const std::string text =
      Capture([&](std::FILE* f) { RunPorts(f, stderr, std::string("/dev/ttyUSB0"), source, PortsFormat::Text); });
  for (const char* line : {"/dev/ttyAMA0  UART (uart-pl011)\n", "/dev/ttyS0  UART (serial)\n", "/dev/ttyGS0  serial (g_serial)\n",
                           "/dev/ttyACM0  USB modem (CDC ACM) (cdc_acm)  2341:\n",
                           "/dev/ttyUSB0  USB serial (ftdi_sio)  0403:6001  serial A50285BI  latency timer 16 ms\n",
                           "\"COM2:\" maps to /dev/ttyUSB0"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  // The JSON document has the driver and the latency timer too (null where there is none).
  const std::string json = Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, source, PortsFormat::Json); });
  EXPECT_NE(json.find("\"ftdi_sio\",\n      \"latency_timer_ms\": 16\n"), std::string::npos) << json;
  EXPECT_NE(json.find("\"cdc_acm\",\n      \"latency_timer_ms\": null\n"), std::string::npos) << json;
}

TEST(Ports, ShowsTheStableNamesThatUdevLinksToEachPort) {
  Tree sys, dev;
  AddTty(sys, "ttyUSB0", "usb1/1-1/ttyUSB0", "ftdi_sio");
  AddTty(sys, "ttyUSB1", "usb1/1-2/ttyUSB1", "ftdi_sio");
  fs::create_directories(fs::path(dev.root) / "serial/by-id");
  fs::create_directories(fs::path(dev.root) / "serial/by-path");
  fs::create_symlink("../../ttyUSB1", fs::path(dev.root) / "serial/by-id/usb-Acme_UART_A50285BI-if00-port0");
  fs::create_symlink("../../ttyUSB1", fs::path(dev.root) / "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
  fs::create_symlink("../../ttyUSB10", fs::path(dev.root) / "serial/by-id/usb-other");  // not a prefix match
  const TreeTtySource source(sys.root, "");
  const std::string text = Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, source, PortsFormat::Text, dev.root); });
  EXPECT_NE(text.find("/dev/ttyUSB0  serial (ftdi_sio)\n/dev/ttyUSB1"), std::string::npos) << text;
  EXPECT_NE(text.find("ttyUSB1  serial (ftdi_sio)\n  by-id: " + dev.root + "/serial/by-id/usb-Acme_UART_A50285BI-if00-port0\n"
                      "  by-path: " + dev.root + "/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n"),
            std::string::npos)
      << text;
  const std::string json =
      Capture([&](std::FILE* f) { RunPorts(f, stderr, std::string("/dev/x"), source, PortsFormat::Json, dev.root); });
  EXPECT_NE(json.find("\"by_id\": [\n        \"" + dev.root + "/serial/by-id/usb-Acme_UART_A50285BI-if00-port0\"\n"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"com2\": \"/dev/x\"\n"), std::string::npos) << json;
}

TEST(Ports, NoPortsStillShowTheMappingAndAnUnreadableSystemIsAFailure) {
  Tree sys;
  fs::create_directories(fs::path(sys.root) / "class/tty");
  const std::string text =
      Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, TreeTtySource(sys.root, ""), PortsFormat::Text); });
  EXPECT_NE(text.find("no serial ports found"), std::string::npos);
  EXPECT_NE(text.find("\"COM2:\" maps to "), std::string::npos);
  // A port named from outside cannot forge a line or steer the terminal.
  const std::string forged = Capture(
      [&](std::FILE* f) { RunPorts(f, stderr, std::string("/x\n\"COM2:\" maps to /y\x1B[2J\\"), TreeTtySource(sys.root, ""), PortsFormat::Text); });
  EXPECT_TRUE(forged.ends_with("\"COM2:\" maps to /x\\n\"COM2:\" maps to /y\\x1B[2J\\ (no such device)\n")) << forged;
  const std::string err = Capture(
      [&](std::FILE* e) { EXPECT_EQ(RunPorts(e, e, std::nullopt, TreeTtySource("/nonexistent-sys", ""), PortsFormat::Text), 1); });
  EXPECT_EQ(err, "fennwick-cli: cannot list the serial ports: No such file or directory\n");
}

TEST(LogFile, RecordsAreAppendedWholeWithStampPortFieldsAndResult) {
  Tree dir;
  const std::string path = dir.root + "/runs.log";
  std::vector<std::thread> threads;
  std::string whyNot;
  const std::unique_ptr<RunLogFile> log = RunLogFile::Open(path, whyNot);
  ASSERT_TRUE(log) << whyNot;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&, i] {
      RunRecord r;
      r.startedUtc = "2026-12-07T12:00:00Z";
      r.port = "/dev/ttyUSB" + std::to_string(i);
      r.command = "program fw.s19";
      r.log = "Programming...\r\nMCU: " + std::string(2000, '.');
      r.result = "programmed";
      r.seconds = 1.5;
      r.tool = "fennwick-cli 9.9.9";
      r.unit = "SN-" + std::to_string(i) + "\nforged: line";  // a line end must not forge a field
      r.file = "/srv/fw.s19";
      r.imageCrc32 = "0x1A2B3C4D";
      r.mcuVersion = "FNW-107 X\r\n";
      std::string why;
      ASSERT_TRUE(log->Append(r, why)) << why;
    });
  }
  for (auto& t : threads) t.join();
  const std::string text = Slurp(path);
  for (int i = 0; i < 8; ++i) {
    const std::string head = "===== 2026-12-07T12:00:00Z \"/dev/ttyUSB" + std::to_string(i) +
                             "\": \"program fw.s19\" =====\n"
                             "tool: \"fennwick-cli 9.9.9\"\nstation: (none)\nunit: \"SN-" + std::to_string(i) +
                             "\\nforged: line\"\nfile: \"/srv/fw.s19\"\nimage crc32: \"0x1A2B3C4D\"\nmcu version: \"FNW-107 X\\n\"\n";
    const size_t at = text.find(head);
    ASSERT_NE(at, std::string::npos) << text.substr(0, 400);
    // Each record is contiguous: its log and result follow its head directly.
    EXPECT_EQ(text.compare(at + head.size(), 24, "| Programming...\n| MCU: "), 0);
    const std::string tail = "\\c\n===== result: programmed (exit 0, 1.5 s) =====\n";
    EXPECT_EQ(text.compare(at + head.size() + 24 + 2000, tail.size(), tail), 0);
  }
}

TEST(MultiDisplay, EveryCompleteLineCarriesItsPortAndUnfinishedLinesComeOutAtTheEnd) {
  std::string out = Capture([](std::FILE* f) {
    MultiDisplay display(f, f, false, {"A", "B"});
    display.Observer(0).LogText("one\r\ntw");
    display.Observer(1).LogText("MCU: ");
    display.Observer(0).LogText("o\r\n");
    display.Observer(1).LogText("....");
    display.Finish();
  });
  EXPECT_EQ(out, "[A] one\n[A] two\n[B] MCU: ....\n");
}

// An examination that only judges (quiet) leaves nothing in the board's record or display.
TEST(RunCapture, KeepsTheLogForTheRecordAndPassesTheRunOnExceptWhileQuiet) {
  RecordingRun display;
  RunCapture capture(display);
  int changes = 0;
  capture.onChange = [&] { ++changes; };
  capture.LogText("MCU: ");
  capture.quiet = true;
  capture.LogText("judged only\r\n");
  capture.ProgressRange(7);
  capture.quiet = false;
  capture.ProgressPos(3);
  capture.LogText("ok\r\n");
  capture.RunEnded(JobEnd::Programmed, "programmed");
  EXPECT_EQ(capture.text(), "MCU: ok\r\n");
  EXPECT_EQ(display.log, "MCU: ok\r\n");
  EXPECT_EQ(display.progress, std::vector<std::string>{"pos 3"});
  EXPECT_EQ(display.ends, std::vector<JobEnd>{JobEnd::Programmed});
  EXPECT_EQ(changes, 2);
}

}  // namespace

namespace {

TEST(ProgressText, BarCountRateAndTimeLeft) {
  EXPECT_EQ(ProgressText(1023, 1023, std::nullopt, 80, 30, 0), "[" + std::string(30, '#') + "] 1024/1024  0:00 left");
  EXPECT_EQ(ProgressText(511, 1023, 10.0, 80, 24, 134),
            "[" + std::string(12, '#') + std::string(12, '.') + "] 512/1024  1.3 kB/s  0:51 left");
  // Past the range the bar stays full.
  EXPECT_EQ(ProgressText(5000, 99, std::nullopt, 80, 10, 0), "[##########] 100/100  0:00 left");
}

// The progress line never wraps, however narrow the terminal: a wrapped line leaves a copy
// of itself on the screen at every redraw.
TEST(ProgressText, FitsEveryWidthDroppingRateThenTimeThenBar) {
  for (size_t columns = 0; columns <= 120; ++columns) {
    const std::string text = ProgressText(511, 1023, 10.0, columns, 30, 134);
    EXPECT_LE(TextColumns(text), columns) << text;
    if (columns >= 12) {
      EXPECT_NE(text.find("512/1024"), std::string::npos) << columns;
    }
  }
  EXPECT_EQ(ProgressText(511, 1023, 10.0, 32, 30, 134), "[#####.....] 512/1024  0:51 left");
  EXPECT_EQ(ProgressText(511, 1023, 10.0, 30, 30, 134), "[#########..........] 512/1024");
  EXPECT_EQ(ProgressText(511, 1023, 10.0, 15, 30, 134), "512/1024");
}

// A rate over the first moments of a job is no measure of the line: a figure appears only
// once the steps span a second, and then follows the last few seconds.
TEST(StepRate, NoFigureBeforeASecondThenTheRecentPace) {
  using namespace std::chrono_literals;
  StepRate rate;
  const auto t0 = std::chrono::steady_clock::time_point{} + 1h;
  rate.Add(0, t0);
  rate.Add(1, t0 + 1ms);
  EXPECT_FALSE(rate.PerSecond());
  EXPECT_NE(ProgressText(1, 1023, rate.PerSecond(), 80, 30, 134).find("2/1024  -- kB/s  -:-- left"),
            std::string::npos);
  for (int i = 2; i <= 100; ++i) rate.Add(i, t0 + i * 10ms);  // 100 steps a second
  ASSERT_TRUE(rate.PerSecond());
  EXPECT_NEAR(*rate.PerSecond(), 100.0, 1.0);
  for (int i = 1; i <= 100; ++i) rate.Add(100 + i, t0 + 1s + i * 100ms);  // then 10 a second
  ASSERT_TRUE(rate.PerSecond());
  EXPECT_NEAR(*rate.PerSecond(), 10.0, 0.5);
}

}  // namespace

namespace {

// A line's script tells a shared failure from mixed ones by the exit code alone.
TEST(ExitCodes, SeveralPortsGiveOneCode) {
  struct Case {
    std::vector<int> codes;
    int expected;
  };
  for (const Case& c : std::vector<Case>{{{}, 0},
                                         {{0, 0, 0}, 0},
                                         {{0, 8, 0}, 8},
                                         {{8, 0, 8}, 8},
                                         {{0, 8, 3}, 12},
                                         {{9, 9, 10}, 12},
                                         {{4}, 4}}) {
    EXPECT_EQ(CombinedExitCode(c.codes), c.expected) << ::testing::PrintToString(c.codes);
  }
  EXPECT_STREQ(ResultWord(0), "ok");
  EXPECT_STREQ(ResultWord(12), "mixed");
  EXPECT_STREQ(ResultWord(99), "failed");
}

TEST(RunReport, SummaryLineIsOneLineOfKeysAndValues) {
  FileFacts file;
  file.path = "/srv/fw.s19";
  file.crc32 = 0x1A2B3C4D;
  RunInfo info{"program", "line-3", &file};
  PortRun run;
  run.port = "/dev/ttyUSB0";
  run.unit = "SN1";
  run.mcuVersion = "FNW \"107\"\n";
  run.exitCode = 8;
  run.seconds = 2.5;
  EXPECT_EQ(SummaryLine(info, run),
            "program station=\"line-3\" unit=\"SN1\" port=\"/dev/ttyUSB0\" file=\"/srv/fw.s19\" crc32=0x1A2B3C4D "
            "mcu=\"FNW \\\"107\\\"\\n\" result=iap-refused exit=8 seconds=2.5");
  info.dryRun = true;  // never read as a flash; a refused one keeps its word
  EXPECT_NE(SummaryLine(info, run).find(" result=iap-refused exit=8 "), std::string::npos);
  run.exitCode = 0;
  EXPECT_NE(SummaryLine(info, run).find(" result=dry-run exit=0 "), std::string::npos);
}

}  // namespace

}  // namespace fennwick
