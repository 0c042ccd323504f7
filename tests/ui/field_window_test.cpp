// The window in the field: a doubtful file is flashed only on the operator's word, and
// every programming run ends with a verdict line. The MCU is scripted on a fake line in
// virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "app/mcu_jobs.h"
#include "core/srec_text.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_files.h"
#include "fakes/fake_serial.h"
#include "ui_test_support.h"

namespace fennwick {

namespace {

const std::u16string kPath = u"/media/usb/fw.S19";

// Firmware whose description block carries compatibility characters `compat`; `described`
// false leaves the block out.
std::string Firmware(const std::string& compat = "107", bool described = true) {
  std::string text = S1(0x8000, {1, 2, 3, 4}) + "\r\n";
  if (described) text += S1(0x8100, Text("$FNWK-" + compat + " board")) + "\r\n";
  return text + "S9030000FC\r\n";
}

class FieldWindow : public testing::Test {
 protected:
  void SetUp() override {
    // The MCU's version from byte 3 on: positions 6 to 8 hold "107".
    std::strcpy(version, "01FNW-107 simulated\r\n");
    port.SetBuffers(version, packet);
    port.m_hPort = serial.Open(u"COM2:");
    serial.onWrite = [this](const std::vector<uint8_t>& w) {
      if (w == std::vector<uint8_t>{'$', 'R', '\r', '\n'}) {
        serial.Deliver("$R 01FNW-107 simulated\r\n", 3);
      } else if (w == std::vector<uint8_t>{'$', 'e', '\r', '\n'}) {
        serial.Deliver("$e board\r\n", 3);
      } else if (w.size() == 7) {
        if (iapReply) serial.Deliver(iapReply, 3);
      } else if (w.size() == 128) {
        serial.Deliver(".", 2);
      }
    };
    DialogSetup s;
    s.screenWidth = 320;
    s.screenHeight = 240;
    s.fullScreen = false;
    s.jobs = &jobs;
    s.pickFile = [](QWidget*) -> std::optional<std::u16string> { return kPath; };
    s.confirmStart = [this](QWidget*, const std::vector<std::string>& c) {
      concerns.push_back(c);
      return confirm;
    };
    dlg = std::make_unique<CFlasherDlg>(s);
    dlg->OnInitDialog();
    dlg->show();
  }
  void TearDown() override { dlg.reset(); }

  bool Idle() { return dlg->State() == CFlasherDlg::JobState::Idle; }
  void Open(const std::string& firmware) {
    files.Add(kPath, firmware);
    Button(*dlg, IDC_OPEN)->click();
    ASSERT_TRUE(PumpUntil([&] { return !Idle(); }, 1000));
    ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 10000));
  }
  // Start; true when a run began and ended.
  bool Start() {
    Button(*dlg, IDC_START)->click();
    if (Idle()) return false;
    return PumpUntil([&] { return dlg->State() == CFlasherDlg::JobState::Running; }, 1000) &&
           PumpUntil([&] { return Idle(); }, 20000);
  }
  std::string Log() const { return dlg->LogControl().Text().toStdString(); }

  FakeClock clock;
  FakeSerial serial{clock};
  MemoryFileSystem files;
  char version[kVersionSize] = {};
  uint8_t packet[kPacketBufferSize] = {};
  CMcuPort port{serial, clock, files};
  McuJobRunner jobs{port, files};
  const char* iapReply = "$wIAP OK\r\n";
  bool confirm = false;
  std::vector<std::vector<std::string>> concerns;
  std::unique_ptr<CFlasherDlg> dlg;
};

TEST_F(FieldWindow, CleanSuitableFileStartsAtOnceAndEndsWithTheVerdict) {
  Open(Firmware());
  EXPECT_TRUE(Log().ends_with("Please click \"Start\" to update current MCU.")) << Log();
  ASSERT_TRUE(Start());
  EXPECT_TRUE(concerns.empty()) << "no question for a clean file";
  EXPECT_TRUE(Log().ends_with("Programming...\r\nMCU: " + std::string(64, '.') +
                              "\r\nDone: programmed 1024 blocks, every one accepted.\r\n"))
      << Log();
}

struct DoubtCase {
  const char* name;
  std::string firmware;
  std::string concern;  // one of the concerns put to the operator
  std::string logEnd;   // what Open leaves at the end of the log
};

class DoubtfulFile : public FieldWindow, public testing::WithParamInterface<DoubtCase> {};

TEST_P(DoubtfulFile, StartAsksAndCancelSendsNothingWhileConfirmingPrograms) {
  const DoubtCase& c = GetParam();
  Open(c.firmware);
  EXPECT_TRUE(Log().ends_with(c.logEnd)) << Log();

  confirm = false;
  EXPECT_FALSE(Start());
  ASSERT_EQ(concerns.size(), 1u);
  EXPECT_NE(std::find(concerns[0].begin(), concerns[0].end(), c.concern), concerns[0].end()) << c.concern;
  PumpFor(250);  // the job timer's time: nothing is armed
  EXPECT_TRUE(serial.written.empty());
  EXPECT_TRUE(Idle());
  EXPECT_EQ(g_jobKind, kJobExamine) << "Cancel leaves the job kind as it was";
  for (int id : kJobEnableOrder) EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;

  confirm = true;
  ASSERT_TRUE(Start());
  EXPECT_EQ(concerns.size(), 2u);
  EXPECT_TRUE(Log().ends_with("\r\nDone: programmed 1024 blocks, every one accepted.\r\n")) << Log();
}

INSTANTIATE_TEST_SUITE_P(
    FieldWindow, DoubtfulFile,
    testing::Values(
        DoubtCase{"WrongChecksum", "S1078010AABBCCDD00\r\n" + Firmware(),
                  "The file check found 1 problem (see the log).",
                  "update current MCU.\r\nFile check: line 1: checksum 0x00, expected 0x5A\r\nFile check: 1 problem in all.\r\n"},
        DoubtCase{"Unsuitable", Firmware("208"), "The file does not suit the MCU attached.",
                  "Please confirm it before click \"Start\"."},
        DoubtCase{"NoDescription", Firmware("107", false), "The file has no description.",
                  "This file has no description."},
        DoubtCase{"CutShort", Firmware().substr(0, Firmware().size() - 12),
                  "The file check found 1 problem (see the log).",
                  "File check: file: no end record (S7, S8 or S9, or a record count after the last data); the file "
                  "may have been cut short\r\nFile check: 1 problem in all.\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct VerdictCase {
  const char* name;
  const char* iapReply;
  std::string logEnd;
};

class RunVerdict : public FieldWindow, public testing::WithParamInterface<VerdictCase> {};

TEST_P(RunVerdict, FollowsTheRunsOwnTexts) {
  iapReply = GetParam().iapReply;
  Open(Firmware());
  ASSERT_TRUE(Start());
  EXPECT_TRUE(Log().ends_with(GetParam().logEnd)) << Log();
  for (int id : kJobEnableOrder) EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;
}

INSTANTIATE_TEST_SUITE_P(
    FieldWindow, RunVerdict,
    testing::Values(VerdictCase{"Refused", "#no\r\n",
                                "MCU.Current MCU don't support IAP feature!\r\nNothing was flashed: the MCU refused IAP mode.\r\n"},
                    // Blocks follow a silent IAP request; every one accepted is a success, with a warning.
                    VerdictCase{"Silent", nullptr,
                                "MCU: " + std::string(64, '.') +
                                    "\r\nDone: programmed 1024 blocks, every one accepted.\r\nWarning: the IAP "
                                    "request got no complete reply; the MCU accepted every block all the same.\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct SwapCase {
  const char* name;
  std::optional<std::string> onDisk;  // what the file holds at Start; none: it is gone
  std::string concern;
};

class FileSwappedAfterOpen : public FieldWindow, public testing::WithParamInterface<SwapCase> {};

TEST_P(FileSwappedAfterOpen, StartSaysSoAsksAndProgramsOnlyTheExaminedBytes) {
  Open(Firmware());
  if (GetParam().onDisk) {
    files.Add(kPath, *GetParam().onDisk);
  } else {
    files.Remove(kPath);
  }
  confirm = false;
  EXPECT_FALSE(Start());
  ASSERT_EQ(concerns.size(), 1u);
  EXPECT_EQ(concerns[0].front(), GetParam().concern);
  EXPECT_TRUE(Log().ends_with(GetParam().concern.substr(0, GetParam().concern.size() - 1) +
                              "; Start programs the examined file.\r\n"))
      << Log();
  PumpFor(250);
  EXPECT_TRUE(serial.written.empty()) << "Cancel sends nothing";

  confirm = true;
  ASSERT_TRUE(Start());
  EXPECT_TRUE(Log().ends_with("Done: programmed 1024 blocks, every one accepted.\r\n")) << Log();
  ASSERT_GE(serial.writes.size(), 3u);
  EXPECT_EQ(std::vector<uint8_t>(serial.writes[2].begin(), serial.writes[2].begin() + 4),
            (std::vector<uint8_t>{1, 2, 3, 4}))
      << "the first block holds the examined file's bytes";
}

INSTANTIATE_TEST_SUITE_P(
    FieldWindow, FileSwappedAfterOpen,
    testing::Values(SwapCase{"Changed", S1(0x8000, {9, 9, 9, 9}) + "\r\n",
                             "The file on disk has changed since it was examined."},
                    SwapCase{"Gone", std::nullopt,
                             "The file on disk cannot be read (No such file or directory) since it was examined."}),
    [](const auto& info) { return std::string(info.param.name); });

struct ReopenCase {
  const char* name;
  bool lost;  // else: not open since the start
  const char* logLine;
};

class PortBack : public FieldWindow, public testing::WithParamInterface<ReopenCase> {};

TEST_P(PortBack, OpenAndStartOpenThePortAgainAndIdentifyFirst) {
  if (GetParam().lost) {
    serial.LoseLine();
  } else {
    port.m_hPort = kInvalidHandle;
  }
  Open(Firmware());
  EXPECT_TRUE(Log().starts_with(std::string(GetParam().logLine) +
                                "\r\n========Current MCU Information========\r\nVersion: FNW-107 simulated\r\nboard\r\n"))
      << Log();
  EXPECT_TRUE(Log().ends_with("Please click \"Start\" to update current MCU.")) << Log();
  // Lost again before Start: Start opens it once more.
  serial.LoseLine();
  ASSERT_TRUE(Start());
  EXPECT_TRUE(Log().ends_with("Done: programmed 1024 blocks, every one accepted.\r\n")) << Log();
  EXPECT_EQ(std::count(serial.calls.begin(), serial.calls.end(), "Open"), 3) << "the fixture's, at Open, at Start";
}

INSTANTIATE_TEST_SUITE_P(FieldWindow, PortBack,
                         testing::Values(ReopenCase{"NotOpenSinceTheStart", false,
                                                    "The MCU port is not open; opening it again."},
                                         ReopenCase{"LostSinceTheLastJob", true,
                                                    "The MCU port was lost; opening it again."}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

}  // namespace fennwick
