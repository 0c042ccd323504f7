// The window when its port vanishes during a job: a real programming run on the simulated
// MCU, whose line hangs up mid-run as a pulled USB adapter would, and which later comes back.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "fakes/process.h"
#include "ui_test_support.h"

namespace fennwick {

namespace {

const std::string kBinDir = FENNWICK_BIN_DIR;

int Count(const QString& text, const QString& what) { return static_cast<int>(text.count(what)); }

TEST(WindowVanishingPort, AJobWhosePortVanishesEndsWithItsLogLinesAndTheWindowStaysUsable) {
  const std::string sample =
      std::filesystem::weakly_canonical(kBinDir + "/../samples/fennwick-sample.s19").string();
  ASSERT_TRUE(std::filesystem::exists(kBinDir + "/fennwick-mcu-sim")) << "build fennwick-mcu-sim first";
  ASSERT_TRUE(std::filesystem::exists(sample)) << "build the samples first";

  // The line hangs up after the reply to block 40: blocks 0, 16 and 32 have logged theirs.
  TempDir dir;
  const std::string link = dir.path + "/mcu";
  auto sim = std::make_unique<Simulator>(
      std::vector<std::string>{"--baud", "0", "--flash-ms", "0", "--hangup-after", "40", "--link", link});
  ASSERT_FALSE(sim->path().empty());
  g_jobKind = kJobExamine;
  g_selectedFile.clear();
  WindowOnLine window(link);
  window.setup.pickFile = [&](QWidget*) -> std::optional<std::u16string> { return U16(QString::fromStdString(sample)); };
  CFlasherDlg& dlg = window.Show();
  const QString& log = dlg.LogControl().Text();
  auto idle = [&] { return dlg.State() == CFlasherDlg::JobState::Idle; };
  auto buttonsBack = [&] {
    for (int id : kJobEnableOrder) {
      if (!dlg.GetDlgItem(id)->isEnabled()) return false;
    }
    return true;
  };
  auto examine = [&] {
    const int before = Count(log, "Reading file information....");
    Button(dlg, IDC_OPEN)->click();
    return PumpUntil([&] { return Count(log, "Reading file information....") == before + 1 && idle(); }, 30000);
  };
  // Start, then wait for the run to end: well before a single 120 s block time-out.
  auto program = [&] {
    Button(dlg, IDC_START)->click();
    QElapsedTimer took;
    took.start();
    const bool ended = PumpUntil([&] { return dlg.State() == CFlasherDlg::JobState::Running; }, 5000) &&
                       PumpUntil(idle, 60000);
    EXPECT_LT(took.elapsed(), 20000);
    return ended;
  };

  ASSERT_TRUE(log.contains("Version: FNW-107 Fennwick simulated MCU\r\n")) << log.toStdString();
  ASSERT_TRUE(examine()) << log.toStdString();
  ASSERT_TRUE(log.endsWith("Please click \"Start\" to update current MCU.")) << log.toStdString();

  // The run: the replies logged up to the hang-up, then the loss, and nothing after it.
  ASSERT_TRUE(program()) << log.right(400).toStdString();
  EXPECT_TRUE(log.contains("Programming...\r\nMCU: ...")) << log.right(400).toStdString();
  EXPECT_TRUE(log.endsWith("\r\nCOM port lost!\r\nStopped: the port was lost during the run; the flash is incomplete.\r\n"))
      << log.right(400).toStdString();
  EXPECT_EQ(Count(log, "COM port lost!"), 1);
  EXPECT_EQ(Count(log, "Response time out"), 0);
  EXPECT_TRUE(buttonsBack());
  EXPECT_EQ(dlg.ProgressControl().Pos(), 0);

  // Still usable: Open tries the port again and examines all the same; Start on the missing
  // port sends nothing.
  ASSERT_TRUE(examine()) << log.right(400).toStdString();
  const QString missing = QString::fromStdString("Open MCU COM port Error!!!\r\nThe port " + link +
                                                 " cannot be opened: No such file or directory.\r\n");
  EXPECT_TRUE(log.contains("The MCU port was lost; opening it again.\r\n" + missing)) << log.right(400).toStdString();
  EXPECT_TRUE(log.endsWith("Please click \"Start\" to update current MCU.")) << log.right(400).toStdString();
  EXPECT_TRUE(buttonsBack());
  ASSERT_TRUE(program()) << log.right(400).toStdString();
  EXPECT_TRUE(log.endsWith("The MCU port is not open; opening it again.\r\n" + missing +
                           "The MCU port is not open!\r\n"
                           "Nothing was flashed: the IAP request could not be sent.\r\n"))
      << log.right(400).toStdString();
  EXPECT_TRUE(buttonsBack());
  EXPECT_EQ(dlg.ProgressControl().Pos(), 0);

  // The MCU back on the same path: Start opens it, identifies it and programs it.
  sim->Stop();
  sim = std::make_unique<Simulator>(std::vector<std::string>{"--baud", "0", "--flash-ms", "0", "--link", link});
  ASSERT_TRUE(program()) << log.right(400).toStdString();
  EXPECT_TRUE(log.contains("The MCU port is not open; opening it again.\r\n========Current MCU Information========\r\n"
                           "Version: FNW-107"))
      << log.right(600).toStdString();
  EXPECT_TRUE(log.endsWith("\r\nDone: programmed 1024 blocks, every one accepted.\r\n")) << log.right(400).toStdString();
  EXPECT_TRUE(buttonsBack());

  // And Quit still ends the window.
  Button(dlg, IDOK)->click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

}  // namespace

}  // namespace fennwick
