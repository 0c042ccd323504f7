// The window against the simulated MCU over a pseudo-terminal, driven through its buttons,
// with the file dialog answered as an operator would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QComboBox>
#include <QFileInfo>
#include <QListWidget>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fakes/process.h"
#include "ui/touch_dialogs.h"
#include "ui_test_support.h"

namespace fennwick {

namespace {

const std::string kBinDir = FENNWICK_BIN_DIR;
const std::string kSamples = kBinDir + "/../samples";


// The file examined at Open is rebuilt on disk before Start: Start examines it again, asks,
// and on the operator's word flashes the rebuilt file.
TEST(WindowEndToEnd, IdentifiesExaminesAndProgramsARebuiltFileIntoTheSimulatedMcu) {
  ASSERT_TRUE(std::filesystem::exists(kBinDir + "/fennwick-mcu-sim")) << "build fennwick-mcu-sim first";
  ASSERT_TRUE(std::filesystem::exists(kSamples + "/fennwick-sample.s19")) << "build the samples first";
  TempDir tempDir;
  const std::string dir = std::filesystem::weakly_canonical(tempDir.path).string();
  const std::string sample = dir + "/fw.s19";
  std::filesystem::copy_file(kSamples + "/fennwick-sample.s19", sample);
  const std::string dump = dir + "/flash.bin";

  Simulator sim({"--baud", "0", "--flash-ms", "0", "--dump", dump});
  ASSERT_FALSE(sim.path().empty());
  WindowOnLine window(sim.path());
  std::vector<std::string> asked;
  window.setup.confirmStart = [&](QWidget*, const std::vector<std::string>& concerns) {
    asked = concerns;
    return true;
  };
  CFlasherDlg& dlg = window.Show();
  const QString& log = dlg.LogControl().Text();
  EXPECT_TRUE(log.startsWith("========Current MCU Information========\r\nVersion: FNW-107 Fennwick simulated MCU\r\n"))
      << log.toStdString();

  // Open: the examination with its verdict; the range becomes the file's line count.
  QString filter;
  AnswerFileDialog(QString::fromStdString(sample), filter);
  Button(dlg, IDC_OPEN)->click();
  EXPECT_EQ(filter, "S19 file (*.S19)");
  EXPECT_EQ(g_selectedFile, U16(QString::fromStdString(sample)));
  ASSERT_TRUE(PumpUntil([&] { return log.contains("update current MCU.") && Button(dlg, IDC_START)->isEnabled(); },
                        30000))
      << log.toStdString();
  EXPECT_TRUE(log.contains("-----Selected S19 File Desc-----\r\nVersion: $FNWK-107"));
  EXPECT_TRUE(log.endsWith("Please click \"Start\" to update current MCU."));
  const std::string text = ReadFile(sample);
  EXPECT_EQ(dlg.ProgressControl().High(), std::count(text.begin(), text.end(), '\n'));
  EXPECT_EQ(dlg.ProgressControl().Pos(), 0);

  // Another build under the same name, for another board.
  std::filesystem::copy_file(kSamples + "/fennwick-other.s19", sample, std::filesystem::copy_options::overwrite_existing);

  // Start: the new file's examination, the question, then programming, the bar advancing,
  // then back at 0.
  std::vector<int> positions;
  QObject::connect(&dlg.ProgressControl(), &QProgressBar::valueChanged, [&](int v) { positions.push_back(v); });
  Button(dlg, IDC_START)->click();
  ASSERT_TRUE(PumpUntil([&] { return log.contains("\r\nDone: ") || log.contains("Nothing was flashed"); }, 240000))
      << log.right(600).toStdString();
  ASSERT_TRUE(PumpUntil([&] { return dlg.State() == CFlasherDlg::JobState::Idle; }, 5000));
  EXPECT_EQ(asked, (std::vector<std::string>{
                       "The file on disk has changed since it was examined; the examination above is the new one.",
                       "The file does not suit the MCU attached."}));
  EXPECT_TRUE(log.contains("\r\nThe file on disk has changed since it was examined; examining it again.\r\n"
                           "\r\nReading file information....\r\n-----Selected S19 File Desc-----\r\nVersion: $FNWK-208"))
      << log.right(600).toStdString();
  EXPECT_TRUE(log.endsWith("Programming...\r\nMCU: " + QString(64, u'.') +
                           "\r\nDone: programmed 1024 blocks, every one accepted.\r\n"))
      << log.right(200).toStdString();
  ASSERT_GE(positions.size(), 3u);
  EXPECT_GT(*std::max_element(positions.begin(), positions.end()), 0);
  EXPECT_EQ(positions.back(), 0);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end() - 1));
  EXPECT_EQ(dlg.ProgressControl().Pos(), 0);
  for (int id : {IDOK, IDC_OPEN, IDC_START}) EXPECT_TRUE(dlg.GetDlgItem(id)->isEnabled()) << id;

  // The simulator writes its flash once the end record has arrived.
  ASSERT_TRUE(PumpUntil([&] { return std::filesystem::exists(dump) && std::filesystem::file_size(dump) == 0x20000; },
                        5000));
  EXPECT_TRUE(ReadFile(dump) == ReadFile(kSamples + "/fennwick-other.bin"));
}

}  // namespace

}  // namespace fennwick
