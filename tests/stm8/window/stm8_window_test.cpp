// The window against firmware that an STM8 executes in the instruction-set simulator: Open
// examines the next sample against the running one, Start flashes it, the verdict is logged.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileInfo>
#include <QListWidget>
#include <QTimer>

#include "fakes/process.h"
#include "ui/touch_dialogs.h"
#include "ui/ui_test_support.h"

namespace fennwick {

namespace {

const std::string kSamples = FENNWICK_STM8_SAMPLES;


TEST(Stm8Window, OpensAndFlashesTheNextSampleIntoTheStm8) {
  Simulator sim({"--stm8", kSamples + "/fennwick-stm8-sample.s19"});
  ASSERT_FALSE(sim.path().empty());
  WindowOnLine window(sim.path());
  window.setup.confirmStart = [](QWidget*, const std::vector<std::string>&) { return false; };  // none expected
  CFlasherDlg& dlg = window.Show();
  const QString& log = dlg.LogControl().Text();
  EXPECT_TRUE(log.contains("Version: ST8-208 STM8 sample 1.0\r\n")) << log.toStdString();

  AnswerFileDialog(QString::fromStdString(kSamples + "/fennwick-stm8-sample-next.s19"));
  Button(dlg, IDC_OPEN)->click();
  ASSERT_TRUE(PumpUntil([&] { return Button(dlg, IDC_START)->isEnabled(); }, 30000)) << log.toStdString();
  EXPECT_TRUE(log.endsWith("Please click \"Start\" to update current MCU.")) << log.right(300).toStdString();

  Button(dlg, IDC_START)->click();
  ASSERT_TRUE(PumpUntil([&] { return dlg.State() == CFlasherDlg::JobState::Running; }, 5000));
  ASSERT_TRUE(PumpUntil([&] { return dlg.State() == CFlasherDlg::JobState::Idle; }, 280000)) << log.toStdString();
  EXPECT_TRUE(log.endsWith("Programming...\r\nMCU: " + QString(64, u'.') +
                           "\r\nDone: programmed 1024 blocks, every one accepted.\r\n"))
      << log.right(300).toStdString();
}

}  // namespace

}  // namespace fennwick
