// The command line's own pieces: port listing, the run log file, several boards' output.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/console_parts.h"
#include "cli/log_file.h"
#include "cli/multi_display.h"
#include "cli/output_text.h"
#include "cli/ports.h"
#include "cli/run_report.h"
#include "cli/terminal_console.h"
#include "fakes/temp_dir.h"
#include "platform/text.h"

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

std::string Capture(const std::function<void(std::FILE*)>& fn) {
  char* buf = nullptr;
  size_t len = 0;
  std::FILE* f = open_memstream(&buf, &len);
  fn(f);
  std::fclose(f);
  std::string s(buf, len);
  free(buf);
  return s;
}

TEST(Ports, ListsRealUartsAndUsbAdaptersWithTheirDetails) {
  Tree sys;
  sys.Write("class/tty/ttyS0/type", "4\n");
  sys.Write("class/tty/ttyS1/type", "0\n");  // a slot without a UART
  sys.Write("class/tty/ttyS10/type", "4\n");
  sys.Write("class/tty/tty1/dev", "4:1\n");
  sys.Write("devices/usb1/1-1/idVendor", "0403\n");
  sys.Write("devices/usb1/1-1/idProduct", "6001\n");
  sys.Write("devices/usb1/1-1/serial", "A50285BI\n");
  sys.Write("devices/usb1/1-1/manufacturer", "Acme\n");
  sys.Write("devices/usb1/1-1/product", "USB UART\n");
  fs::create_directories(fs::path(sys.root) / "devices/usb1/1-1/1-1:1.0/ttyUSB0");
  fs::create_directories(fs::path(sys.root) / "class/tty/ttyUSB0");
  fs::create_directory_symlink(fs::path(sys.root) / "devices/usb1/1-1/1-1:1.0",
                               fs::path(sys.root) / "class/tty/ttyUSB0/device");
  fs::create_directories(fs::path(sys.root) / "class/tty/ttyACM0");

  const auto ports = ListSerialPorts(sys.root, "/dev");
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[0].device, "/dev/ttyACM0");
  EXPECT_EQ(ports[1].device, "/dev/ttyS0");
  EXPECT_EQ(ports[2].device, "/dev/ttyS10");
  EXPECT_EQ(ports[3].device, "/dev/ttyUSB0");
  EXPECT_EQ(ports[3].usbVendor, "0403");
  EXPECT_EQ(ports[3].usbProduct, "6001");
  EXPECT_EQ(ports[3].usbSerial, "A50285BI");

  const std::string text = Capture([&](std::FILE* f) { RunPorts(f, std::string("/dev/ttyUSB0"), sys.root, "/dev"); });
  EXPECT_NE(text.find("/dev/ttyUSB0  USB serial  0403:6001  Acme USB UART  serial A50285BI\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("\"COM2:\" maps to /dev/ttyUSB0"), std::string::npos) << text;
}

TEST(Ports, ShowsTheStableNamesThatUdevLinksToEachPort) {
  Tree sys, dev;
  fs::create_directories(fs::path(sys.root) / "class/tty/ttyUSB0");
  fs::create_directories(fs::path(sys.root) / "class/tty/ttyUSB1");
  fs::create_directories(fs::path(dev.root) / "serial/by-id");
  fs::create_directories(fs::path(dev.root) / "serial/by-path");
  fs::create_symlink("../../ttyUSB1", fs::path(dev.root) / "serial/by-id/usb-Acme_UART_A50285BI-if00-port0");
  fs::create_symlink("../../ttyUSB1", fs::path(dev.root) / "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
  fs::create_symlink("../../ttyUSB10", fs::path(dev.root) / "serial/by-id/usb-other");  // not a prefix match
  const auto ports = ListSerialPorts(sys.root, dev.root);
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_TRUE(ports[0].byId.empty());
  ASSERT_EQ(ports[1].byId.size(), 1u);
  const std::string text = Capture([&](std::FILE* f) { RunPorts(f, std::nullopt, sys.root, dev.root); });
  EXPECT_NE(text.find("ttyUSB1  USB serial\n  by-id: " + dev.root + "/serial/by-id/usb-Acme_UART_A50285BI-if00-port0\n"
                      "  by-path: " + dev.root + "/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n"),
            std::string::npos)
      << text;
  const std::string json = Capture([&](std::FILE* f) { RunPorts(f, std::string("/dev/x"), sys.root, dev.root, true); });
  EXPECT_NE(json.find("\"by_id\": [\n        \"" + dev.root + "/serial/by-id/usb-Acme_UART_A50285BI-if00-port0\"\n"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"com2\": \"/dev/x\"\n"), std::string::npos) << json;
}

TEST(Ports, NoTreeMeansNoPortsAndStillTheMapping) {
  const std::string text =
      Capture([&](std::FILE* f) { RunPorts(f, std::nullopt, "/nonexistent-sys", "/dev"); });
  EXPECT_NE(text.find("no serial ports found"), std::string::npos);
  EXPECT_NE(text.find("\"COM2:\" maps to "), std::string::npos);
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
    display.Log(0).SetSel(0, 0);
    display.Log(0).ReplaceSel(Cp1252ToUtf16("one\r\ntw"));
    display.Log(1).ReplaceSel(Cp1252ToUtf16("MCU: "));
    display.Log(0).ReplaceSel(Cp1252ToUtf16("o\r\n"));
    display.Log(1).ReplaceSel(Cp1252ToUtf16("...."));
    EXPECT_EQ(display.Log(0).GetWindowTextLength(), 10);
    display.Finish();
  });
  EXPECT_EQ(out, "[A] one\n[A] two\n[B] MCU: ....\n");
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
}

}  // namespace

}  // namespace fennwick
