// The window when its port vanishes during a job: a real programming run on the simulated
// MCU, whose line hangs up mid-run as a pulled USB adapter would.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/mcu_jobs.h"
#include "platform/posix_serial.h"
#include "ui_test_support.h"

extern char** environ;

namespace {

const std::string kBinDir = FENNWICK_BIN_DIR;

// fennwick-mcu-sim in the background; its first line of output names its terminal.
class SimulatedMcu {
 public:
  explicit SimulatedMcu(std::vector<std::string> args) {
    int out[2];
    if (::pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    args.insert(args.begin(), kBinDir + "/fennwick-mcu-sim");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    pollfd p{out[0], POLLIN, 0};
    char c = 0;
    while (pid_ > 0 && ::poll(&p, 1, 10000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
    ::close(out[0]);
  }
  ~SimulatedMcu() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  SimulatedMcu(const SimulatedMcu&) = delete;
  SimulatedMcu& operator=(const SimulatedMcu&) = delete;
  const std::string& path() const { return path_; }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

int Count(const QString& text, const QString& what) { return static_cast<int>(text.count(what)); }

TEST(WindowVanishingPort, AJobWhosePortVanishesEndsWithItsLogLinesAndTheWindowStaysUsable) {
  const std::string sample =
      std::filesystem::weakly_canonical(kBinDir + "/../samples/fennwick-sample.s19").string();
  ASSERT_TRUE(std::filesystem::exists(kBinDir + "/fennwick-mcu-sim")) << "build fennwick-mcu-sim first";
  ASSERT_TRUE(std::filesystem::exists(sample)) << "build the samples first";

  // The line hangs up after the reply to block 40: blocks 0, 16 and 32 have logged theirs.
  SimulatedMcu sim({"--baud", "0", "--flash-ms", "0", "--hangup-after", "40"});
  ASSERT_FALSE(sim.path().empty());
  PosixSerialDevice device(sim.path());
  CMcuPort port(device, DefaultClock());
  McuJobRunner jobs(port);
  g_jobKind = kJobExamine;
  g_selectedFile.clear();

  DialogSetup s;
  s.screenWidth = 800;
  s.screenHeight = 480;
  s.fullScreen = false;
  s.jobs = &jobs;
  s.identify = [&] { port.OpenAndIdentify(u"COM2:"); };
  s.pickFile = [&](QWidget*) -> std::optional<std::u16string> { return U16(QString::fromStdString(sample)); };
  CFlasherDlg dlg(s);
  dlg.OnInitDialog();
  dlg.show();
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
  EXPECT_TRUE(log.endsWith("\r\nCOM port lost!\r\n")) << log.right(400).toStdString();
  EXPECT_EQ(Count(log, "COM port lost!"), 1);
  EXPECT_EQ(Count(log, "Response time out"), 0);
  EXPECT_TRUE(buttonsBack());
  EXPECT_EQ(dlg.ProgressControl().Pos(), 0);

  // Still usable: Open examines again (no port needed), and Start on the lost port ends at
  // once with the same line instead of sending into the void.
  ASSERT_TRUE(examine()) << log.right(400).toStdString();
  EXPECT_TRUE(log.endsWith("Please click \"Start\" to update current MCU.")) << log.right(400).toStdString();
  EXPECT_TRUE(buttonsBack());
  ASSERT_TRUE(program()) << log.right(400).toStdString();
  EXPECT_TRUE(log.endsWith("\r\nCOM port lost!\r\n")) << log.right(400).toStdString();
  EXPECT_EQ(Count(log, "COM port lost!"), 2);
  EXPECT_TRUE(buttonsBack());
  EXPECT_EQ(dlg.ProgressControl().Pos(), 0);

  // And Quit still ends the window.
  Button(dlg, IDOK)->click();
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

}  // namespace
