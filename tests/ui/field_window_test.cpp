// The window in the field: a doubtful file is flashed only on the operator's word, and
// every programming run ends with a verdict line. The MCU is scripted on a fake line in
// virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>

#include "app/mcu_jobs.h"
#include "core/srec_text.h"
#include "fakes/fake_clock.h"
#include "fakes/fake_console.h"
#include "fakes/fake_files.h"
#include "fakes/fake_serial.h"
#include "ui_test_support.h"

namespace fennwick {

namespace {

const std::u16string kPath = u"/media/usb/fw.S19";

// Firmware whose description block carries compatibility characters `compat`; `described`
// false leaves the block out. `first` is what the image starts with.
std::string Firmware(const std::string& compat = "107", bool described = true,
                     const std::vector<uint8_t>& first = {1, 2, 3, 4}) {
  std::string text = S1(0x8000, first) + "\r\n";
  if (described) text += S1(0x8100, Text("$FNWK-" + compat + " board")) + "\r\n";
  return text + "S9030000FC\r\n";
}

class FieldWindow : public testing::Test {
 protected:
  void SetUp() override {
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
    // Identified before the window shows, so that its log starts empty: the version's
    // positions 6 to 8 hold "107".
    RecordingRun before;
    port.SetObserver(&before);
    ASSERT_EQ(port.OpenAndIdentify(u"COM2:").status, IdentifyOutcome::Status::Identified);
    port.SetObserver(&WindowConsole());
    serial.written.clear();
    serial.writes.clear();
    DialogSetup s;
    s.screenWidth = 320;
    s.screenHeight = 240;
    s.fullScreen = false;
    s.jobs = &jobs;
    s.pickFile = [](QWidget*) -> std::optional<std::u16string> { return kPath; };
    s.confirmStart = [this](QWidget*, const std::vector<std::string>& c) {
      concerns.push_back(c);
      if (whileAsked) whileAsked();
      return confirm;
    };
    dlg = std::make_unique<CFlasherDlg>(s);
    QObject::connect(dlg.get(), &CFlasherDlg::jobFinished, [this] { ++finished; });
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
  // Start; true when a job began and ended. A quick job can pass through its running state
  // unseen between two pumps, so its end is what is waited for.
  bool Start() {
    const int before = finished;
    Button(*dlg, IDC_START)->click();
    return !Idle() && PumpUntil([&] { return finished > before && Idle(); }, 20000);
  }
  std::string Log() const { return dlg->LogControl().Text().toStdString(); }

  FakeClock clock;
  FakeSerial serial{clock};
  MemoryFileSystem files;
  CMcuPort port{serial, clock};
  McuJobRunner jobs{port, files};
  const char* iapReply = "$wIAP OK\r\n";
  bool confirm = false;
  std::function<void()> whileAsked;
  std::vector<std::vector<std::string>> concerns;
  int finished = 0;  // jobs ended
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

TEST_F(FieldWindow, StartOnAPortThatNeverOpenedSaysSoAndSendsNothing) {
  serial.openFails = true;
  port.ClosePort();
  Open(Firmware());
  ASSERT_TRUE(Start());
  EXPECT_TRUE(Log().ends_with("\r\nThe MCU port is not open!\r\nNothing was flashed: the IAP request could not be sent.\r\n"))
      << Log();
  EXPECT_EQ(Log().find("did not answer"), std::string::npos) << Log();
  EXPECT_TRUE(serial.written.empty());
}

TEST_F(FieldWindow, StartAfterAnOpenThatCouldNotReadTheFileSendsNothing) {
  Button(*dlg, IDC_OPEN)->click();
  ASSERT_TRUE(PumpUntil([&] { return !Idle(); }, 1000));
  ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 10000));
  EXPECT_EQ(Log(), "The file cannot be opened.\r\n");
  files.Add(kPath, Firmware());  // there by now, but never examined
  ASSERT_TRUE(Start());
  EXPECT_TRUE(Log().ends_with("\r\nNothing was flashed: the file could not be read when it was opened; open it "
                              "again.\r\n"))
      << Log();
  EXPECT_TRUE(serial.written.empty());
  EXPECT_EQ(files.opens, 0);
}

const std::string kChanged = "The file on disk has changed since it was examined; the examination above is the new one.";
const std::string kExaminedAgain =
    "\r\nThe file on disk has changed since it was examined; examining it again.\r\n\r\nReading file information....\r\n";
const std::string kDone = "\r\nDone: programmed 1024 blocks, every one accepted.\r\n";

struct ChangeCase {
  const char* name;
  std::optional<std::string> onDisk;  // the file at Start (from byte 10 unreadable when `broken`); none: gone
  bool broken, confirm;
  std::optional<std::string> whileAsked;  // what the file becomes while the operator is asked
  std::vector<std::string> asked;         // the question put; empty: none
  std::string logStart;                   // what Start adds to the log; all of it when nothing is flashed
  std::vector<uint8_t> flashed;           // the image's first bytes as sent; empty: nothing sent
};

class FileChangedBeforeStart : public FieldWindow, public testing::WithParamInterface<ChangeCase> {};

TEST_P(FileChangedBeforeStart, IsExaminedAgainAndOnlyTheBytesExaminedAreFlashed) {
  const ChangeCase& c = GetParam();
  Open(Firmware());
  const size_t opened = Log().size();
  if (c.onDisk) {
    files.Add(kPath, *c.onDisk, c.broken ? 10 : -1);
  } else {
    files.Remove(kPath);
  }
  confirm = c.confirm;
  whileAsked = [&] {
    if (c.whileAsked) files.Add(kPath, *c.whileAsked);
  };
  // The examination's job, then the question, then the run that a yes arms.
  const int expectedJobs = finished + (c.flashed.empty() ? 1 : 2);
  ASSERT_TRUE(Start());
  ASSERT_TRUE(PumpUntil([&] { return finished == expectedJobs && Idle(); }, 20000));
  PumpFor(150);
  EXPECT_EQ(finished, expectedJobs);

  EXPECT_EQ(concerns, c.asked.empty() ? decltype(concerns){} : decltype(concerns){c.asked});
  const std::string added = Log().substr(opened);
  if (c.flashed.empty()) {
    EXPECT_EQ(added, c.logStart);
    EXPECT_TRUE(serial.written.empty());
  } else {
    EXPECT_TRUE(added.starts_with(c.logStart) && added.ends_with(kDone)) << added;
    ASSERT_GE(serial.writes.size(), 3u);
    EXPECT_EQ(std::vector<uint8_t>(serial.writes[2].begin(), serial.writes[2].begin() + 4), c.flashed);
  }
  for (int id : kJobEnableOrder) EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;
}

const std::string kRebuilt = Firmware("107", true, {9, 9, 9, 9});
const std::string kNewVerdict =
    "-----Selected S19 File Desc-----\r\nVersion: $FNWK-107 boardPlease click \"Start\" to update current MCU.";

INSTANTIATE_TEST_SUITE_P(
    FieldWindow, FileChangedBeforeStart,
    testing::Values(
        ChangeCase{"RebuiltAndConfirmed", kRebuilt, false, true, std::nullopt, {kChanged},
                   kExaminedAgain + kNewVerdict, {9, 9, 9, 9}},
        ChangeCase{"RebuiltAgainWhileAsked", kRebuilt, false, true, Firmware("107", true, {7, 7, 7, 7}), {kChanged},
                   kExaminedAgain, {9, 9, 9, 9}},
        ChangeCase{"RebuiltWithProblemsAndCancelled", "S1078010AABBCCDD00\r\n" + kRebuilt, false, false, std::nullopt,
                   {kChanged, "The file check found 1 problem (see the log)."},
                   kExaminedAgain + kNewVerdict +
                       "\r\nFile check: line 1: checksum 0x00, expected 0x5A\r\nFile check: 1 problem in all.\r\n",
                   {}},
        ChangeCase{"Gone", std::nullopt, false, true, std::nullopt, {},
                   "\r\nNothing was flashed: the file cannot be opened: No such file or directory.\r\n", {}},
        ChangeCase{"Unreadable", kRebuilt, true, true, std::nullopt, {},
                   "\r\nNothing was flashed: the file could not be read to its end: " + std::string(std::strerror(EIO)) +
                       ".\r\n",
                   {}}),
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
    port.ClosePort();
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
