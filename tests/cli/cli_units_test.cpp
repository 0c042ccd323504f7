// The command line's own pieces: port listing, the run log file, several boards' output.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
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

// What the system reported, given literally: each tty's facts and the kernel's driver table.
class FactsSource final : public ITtySource {
 public:
  explicit FactsSource(std::vector<TtyFacts> ttys, std::string drivers = "", std::string error = "")
      : ttys_(std::move(ttys)), drivers_(std::move(drivers)), error_(std::move(error)) {}
  bool Ttys(std::vector<TtyFacts>& ttys, std::string& error) const override {
    ttys = ttys_;
    error = error_;
    return error_.empty();
  }
  std::string TtyDrivers() const override { return drivers_; }

 private:
  std::vector<TtyFacts> ttys_;
  std::string drivers_, error_;
};

TtyFacts Tty(const std::string& name, bool hasDevice, const std::string& driver, const std::string& uartType = "") {
  TtyFacts t;
  t.name = name;
  t.devNode = "/dev/" + name;
  t.hasDevice = hasDevice;
  t.driver = driver;
  t.uartType = uartType;
  return t;
}

TtyFacts UsbTty(const std::string& name, const std::string& driver, const std::string& vendor, const std::string& product) {
  TtyFacts t = Tty(name, true, driver);
  t.usb = true;
  t.usbVendor = vendor;
  t.usbProduct = product;
  return t;
}

TEST(Ports, EverySerialTtyIsListedWhateverItsDriversNameWithItsDriverAndUsbDetails) {
  // Virtual ttys have no device: only the kernel's driver table tells a gadget's port
  // (major 241, a serial driver) from a virtual console (major 4).
  TtyFacts gadget = Tty("ttyGS0", false, ""), console = Tty("tty1", false, "");
  gadget.major = 241;
  console.major = 4;
  console.minor = 1;
  TtyFacts ftdi = UsbTty("ttyUSB0", "ftdi_sio", "0403", "6001");
  ftdi.usbSerial = "A50285BI";
  ftdi.manufacturer = "FTDI";
  ftdi.product = "FT232R USB UART";
  ftdi.latencyTimer = "16";
  const FactsSource source({Tty("ttyS10", true, "serial", "4"), Tty("ttyS2", true, "serial", "4"),
                            Tty("ttyS1", true, "serial8250", "0"),  // a slot without a UART
                            Tty("ttyAMA0", true, "uart-pl011", "32"), Tty("ttymxc1", true, "imx-uart", "1"),
                            Tty("ttySTM0", true, "stm32-usart", "1"), Tty("ttyO2", true, "omap_uart", "1"),
                            Tty("ttyTHS1", true, "serial-tegra", "1"), gadget, console, ftdi,
                            UsbTty("ttyACM0", "cdc_acm", "2341", ""), Tty("ttyX0", true, "")},
                           "unknown /dev/tty 4 1-63 console\ng_serial /dev/ttyGS 241 0-3 serial\nbroken line\n");

  const std::string names = Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, source, PortsFormat::Names); });
  EXPECT_EQ(names, "/dev/ttyACM0\n/dev/ttyAMA0\n/dev/ttyGS0\n/dev/ttyO2\n/dev/ttyS2\n/dev/ttyS10\n/dev/ttySTM0\n"
                   "/dev/ttyTHS1\n/dev/ttyUSB0\n/dev/ttyX0\n/dev/ttymxc1\n");
  const std::string text =
      Capture([&](std::FILE* f) { RunPorts(f, stderr, std::string("/dev/ttyUSB0"), source, PortsFormat::Text); });
  for (const char* line : {"/dev/ttyAMA0  UART (uart-pl011)\n", "/dev/ttyS2  UART (serial)\n", "/dev/ttyGS0  serial (g_serial)\n",
                           "/dev/ttyACM0  USB modem (CDC ACM) (cdc_acm)  2341:\n", "/dev/ttyX0  serial\n",
                           "/dev/ttyUSB0  USB serial (ftdi_sio)  0403:6001  FTDI FT232R USB UART  serial A50285BI  "
                           "latency timer 16 ms\n",
                           "\"COM2:\" maps to /dev/ttyUSB0"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  }
  // The JSON document has the driver and the latency timer too (null where there is none).
  const std::string json = Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, source, PortsFormat::Json); });
  EXPECT_NE(json.find("\"ftdi_sio\",\n      \"latency_timer_ms\": 16\n"), std::string::npos) << json;
  EXPECT_NE(json.find("\"cdc_acm\",\n      \"latency_timer_ms\": null\n"), std::string::npos) << json;
}

TEST(Ports, ShowsTheStableNamesThatUdevLinksToEachPort) {
  TempDir dev;
  fs::create_directories(fs::path(dev.path) / "serial/by-id");
  fs::create_directories(fs::path(dev.path) / "serial/by-path");
  fs::create_symlink("../../ttyUSB1", dev / "serial/by-id/usb-Acme_UART_A50285BI-if00-port0");
  fs::create_symlink("../../ttyUSB1", dev / "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
  fs::create_symlink("../../ttyUSB10", dev / "serial/by-id/usb-other");  // not a prefix match
  const FactsSource source({Tty("ttyUSB0", true, "ftdi_sio"), Tty("ttyUSB1", true, "ftdi_sio")});
  const std::string text = Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, source, PortsFormat::Text, dev.path); });
  EXPECT_NE(text.find("/dev/ttyUSB0  serial (ftdi_sio)\n/dev/ttyUSB1"), std::string::npos) << text;
  EXPECT_NE(text.find("ttyUSB1  serial (ftdi_sio)\n  by-id: " + dev.path + "/serial/by-id/usb-Acme_UART_A50285BI-if00-port0\n"
                      "  by-path: " + dev.path + "/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n"),
            std::string::npos)
      << text;
  const std::string json =
      Capture([&](std::FILE* f) { RunPorts(f, stderr, std::string("/dev/x"), source, PortsFormat::Json, dev.path); });
  EXPECT_NE(json.find("\"by_id\": [\n        \"" + dev.path + "/serial/by-id/usb-Acme_UART_A50285BI-if00-port0\"\n"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"com2\": \"/dev/x\"\n"), std::string::npos) << json;
}

TEST(Ports, NoPortsStillShowTheMappingAndAnUnreadableSystemIsAFailure) {
  const std::string text = Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, FactsSource({}), PortsFormat::Text); });
  EXPECT_NE(text.find("no serial ports found"), std::string::npos);
  EXPECT_NE(text.find("\"COM2:\" maps to "), std::string::npos);
  // A port named from outside, or a text a device reports, cannot forge a line or steer the terminal.
  const std::string forged = Capture(
      [&](std::FILE* f) { RunPorts(f, stderr, std::string("/x\n\"COM2:\" maps to /y\x1B[2J\\"), FactsSource({}), PortsFormat::Text); });
  EXPECT_TRUE(forged.ends_with("\"COM2:\" maps to /x\\n\"COM2:\" maps to /y\\x1B[2J\\ (no such device)\n")) << forged;
  TtyFacts usb = UsbTty("ttyUSB0", "ftdi_sio", "0403", "6001");
  usb.product = "UART\n/dev/ttyS9  UART\x1B[2J";
  const std::string device =
      Capture([&](std::FILE* f) { RunPorts(f, stderr, std::nullopt, FactsSource({usb}), PortsFormat::Text); });
  EXPECT_NE(device.find("0403:6001  UART\\n/dev/ttyS9  UART\\x1B[2J\n"), std::string::npos) << device;
  const std::string err = Capture(
      [&](std::FILE* e) { EXPECT_EQ(RunPorts(e, e, std::nullopt, FactsSource({}, "", "No such file or directory"), PortsFormat::Text), 1); });
  EXPECT_EQ(err, "fennwick-cli: cannot list the serial ports: No such file or directory\n");
}

// What the Windows device manager reported: only COM ports count, in the order of their
// numbers; the USB ids come from whichever device on the way up is the USB device.
TEST(Ports, ComPortsAreTakenFromTheDeviceManagersFacts) {
  const std::vector<ComPortFacts> facts = {
      {"COM10", "USB Serial Port (COM10)", "USB Serial Port", "FTDI",
       {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "USB\\VID_0403&PID_6001\\A50285BI"}},
      {"COM3", "", "USB Serial Device", "Microsoft", {"USB\\VID_2341&PID_0043&MI_00\\6&1A2B&0&0000"}},
      {"LPT1", "Printer Port (LPT1)", "", "(Standard port types)", {}},
      {"COM1", "Communications Port (COM1)", "", "(Standard port types)", {"ACPI\\PNP0501\\0"}},
      {"COM2", "Bluetooth link", "", "Microsoft", {"BTHENUM\\X", "BTH\\Y", "USB\\VID_8087&PID_0A2B\\5&AB"}},
  };
  std::vector<std::string> seen;
  for (const SerialPortInfo& p : ListComPorts(facts)) {
    seen.push_back(p.device + "|" + p.kind + "|" + p.manufacturer + "|" + p.usbVendor + ":" + p.usbProduct + "|" + p.usbSerial);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"COM1|Communications Port (COM1)|(Standard port types)|:|",
                                            "COM2|Bluetooth link|Microsoft|8087:0a2b|",
                                            "COM3|USB Serial Device|Microsoft|2341:0043|",
                                            "COM10|USB Serial Port (COM10)|FTDI|0403:6001|A50285BI"}));
}

TEST(LogFile, RecordsAreAppendedWholeWithStampPortFieldsAndResult) {
  const TempDir dir;
  const std::string path = dir / "runs.log";
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
  const std::string text = ReadFile(path);
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
