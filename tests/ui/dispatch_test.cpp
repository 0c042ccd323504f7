// Open and Start through the buttons and the 100 ms timer, with jobs that only record.
#include <gtest/gtest.h>

#include "ui_test_support.h"

namespace fennwick {

namespace {

class WindowDispatch : public testing::Test {
 protected:
  void SetUp() override {
    g_jobKind = 0;
    g_selectedFile.clear();
    DialogSetup s = WindowOf(320, 240, &jobs);
    s.pickFile = [this](QWidget*) -> std::optional<std::u16string> {
      ++picks;
      return answer;
    };
    if (launcher != nullptr) s.launcher = launcher;
    dlg = ShownDialog(s);
  }
  void TearDown() override {
    jobs.hold = false;
    dlg.reset();
  }
  QPushButton* B(int id) { return Button(*dlg, id); }
  bool Idle() { return dlg->State() == CFlasherDlg::JobState::Idle; }
  bool Running() { return dlg->State() == CFlasherDlg::JobState::Running; }
  // Confirms a file with Open and waits for the examination to end: the ready state.
  void ExamineFirst() {
    answer = u"/data/fw.S19";
    B(IDC_OPEN)->click();
    ASSERT_TRUE(PumpUntil([&] { return jobs.Calls().size() == 1 && Idle(); }, 5000));
  }

  FakeJobs jobs;
  IWorkerLauncher* launcher = nullptr;
  int picks = 0;
  std::optional<std::u16string> answer;
  std::unique_ptr<CFlasherDlg> dlg;
};

TEST_F(WindowDispatch, OpenExaminesTheChosenFileAfterTheTimerAndReturnsToReady) {
  answer = u"/data/fw.S19";
  B(IDC_OPEN)->click();
  EXPECT_EQ(picks, 1);
  EXPECT_EQ(g_selectedFile, u"/data/fw.S19");
  EXPECT_EQ(g_jobKind, kJobExamine);
  EXPECT_EQ(dlg->State(), CFlasherDlg::JobState::Armed);
  EXPECT_TRUE(jobs.Calls().empty());  // nothing before the tick
  ASSERT_TRUE(PumpUntil([&] { return jobs.Calls().size() == 1 && Idle(); }, 5000));
  EXPECT_EQ(jobs.Calls()[0].kind, kJobExamine);
  EXPECT_EQ(jobs.Calls()[0].path, u"/data/fw.S19");
  EXPECT_TRUE(dlg->LogControl().Text().endsWith("examine\r\n"));
  for (int id : kJobEnableOrder) EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;  // Start too now
}

TEST_F(WindowDispatch, StartBeforeAnyExaminationIsDisabled) {
  B(IDC_START)->click();
  PumpFor(250);
  EXPECT_TRUE(jobs.Calls().empty());
}

TEST_F(WindowDispatch, StartProgramsTheLastChosenFile) {
  ExamineFirst();
  B(IDC_START)->click();
  EXPECT_EQ(g_jobKind, kJobProgram);
  ASSERT_TRUE(PumpUntil([&] { return jobs.Calls().size() == 2 && Idle(); }, 5000));
  EXPECT_EQ(jobs.Calls()[1].kind, kJobProgram);
  EXPECT_EQ(jobs.Calls()[1].path, u"/data/fw.S19");
}

TEST_F(WindowDispatch, SecondCommandWhileArmedMakesNoSecondJob) {
  struct Case {
    const char* name;
    int second;
  };
  for (const Case& c : {Case{"Start twice", IDC_START}, Case{"Start then Open", IDC_OPEN}}) {
    SCOPED_TRACE(c.name);
    if (jobs.Calls().empty()) ExamineFirst();
    const size_t before = jobs.Calls().size();
    const int picksBefore = picks;
    answer = u"/data/other.s19";
    B(IDC_START)->click();
    B(c.second)->click();  // well within the 100 ms
    EXPECT_EQ(picks, picksBefore);  // no file dialog while a job is armed
    ASSERT_TRUE(PumpUntil([&] { return jobs.Calls().size() == before + 1 && Idle(); }, 5000));
    PumpFor(300);  // and nothing more comes
    EXPECT_EQ(jobs.Calls().size(), before + 1);
    EXPECT_EQ(jobs.Calls().back().kind, kJobProgram);
    EXPECT_EQ(jobs.Calls().back().path, u"/data/fw.S19");
    EXPECT_EQ(jobs.maxRunning, 1);
  }
}

TEST_F(WindowDispatch, CancelledFileDialogChangesNothing) {
  ExamineFirst();
  g_jobKind = kJobProgram;
  answer.reset();
  B(IDC_OPEN)->click();
  EXPECT_EQ(picks, 2);
  EXPECT_EQ(g_selectedFile, u"/data/fw.S19");
  EXPECT_EQ(g_jobKind, kJobProgram);
  EXPECT_TRUE(Idle());
  PumpFor(300);
  EXPECT_EQ(jobs.Calls().size(), 1u);
  for (int id : {IDOK, IDC_OPEN, IDC_START}) EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;
}

TEST_F(WindowDispatch, ButtonStatesWhileAJobRunsAndAfter) {
  jobs.hold = true;
  answer = u"/data/fw.S19";
  B(IDC_OPEN)->click();
  ASSERT_TRUE(PumpUntil([&] { return jobs.running == 1; }, 5000));
  EXPECT_TRUE(Running());
  for (int id : kJobDisableOrder) EXPECT_FALSE(dlg->GetDlgItem(id)->isEnabled()) << id;
  EXPECT_TRUE(dlg->GetDlgItem(IDC_SNBOOT)->isEnabled());
  for (int id : kHiddenButtons) EXPECT_FALSE(dlg->GetDlgItem(id)->isVisible()) << id;
  // The handlers themselves refuse too (keyboard, or anything bypassing the buttons).
  dlg->OnBnClickedStart();
  dlg->OnBnClickedOpen();
  EXPECT_EQ(picks, 1);
  EXPECT_EQ(g_jobKind, kJobExamine);

  jobs.hold = false;
  ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 5000));
  for (int id : kJobEnableOrder) EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;
  EXPECT_TRUE(dlg->GetDlgItem(IDC_SNBOOT)->isEnabled());
  for (int id : kHiddenButtons) EXPECT_FALSE(dlg->GetDlgItem(id)->isVisible()) << id;
}

TEST_F(WindowDispatch, ProgressIsBackAtZeroAfterEveryJob) {
  ExamineFirst();
  EXPECT_EQ(dlg->ProgressControl().High(), 10);  // the range the job set stays
  EXPECT_EQ(dlg->ProgressControl().Pos(), 0);
  B(IDC_START)->click();
  ASSERT_TRUE(PumpUntil([&] { return jobs.Calls().size() == 2 && Idle(); }, 5000));
  EXPECT_EQ(dlg->ProgressControl().Pos(), 0);
  EXPECT_EQ(dlg->ProgressControl().value(), 0);
}

TEST_F(WindowDispatch, NeitherQuitNorTheCancelRouteEndTheDialogDuringAJob) {
  int finished = 0;
  QObject::connect(dlg.get(), &QDialog::finished, [&](int) { ++finished; });
  jobs.hold = true;
  answer = u"/data/fw.S19";
  B(IDC_OPEN)->click();
  ASSERT_TRUE(PumpUntil([&] { return jobs.running == 1; }, 5000));
  B(IDOK)->click();
  dlg->reject();  // Escape
  dlg->close();   // the window manager's close
  PumpFor(50);
  EXPECT_EQ(finished, 0);
  EXPECT_TRUE(dlg->isVisible());

  jobs.hold = false;
  ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 5000));
  dlg->reject();  // works again once the job has ended
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(dlg->isVisible());
  EXPECT_EQ(dlg->result(), QDialog::Rejected);
}

TEST_F(WindowDispatch, QuitWhileArmedDropsThePendingJob) {
  ExamineFirst();
  B(IDC_START)->click();
  B(IDOK)->click();
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
  PumpFor(300);
  EXPECT_EQ(jobs.Calls().size(), 1u);
}

TEST_F(WindowDispatch, WorkerOutputReachesTheLogInOrder) {
  jobs.body = [] {
    for (int i = 0; i < 200; ++i) {
      LogPrintf("block %d\r\n", i);
      SetProgressPos(i);
    }
  };
  ExamineFirst();
  QString expected = "examine\r\n";
  for (int i = 0; i < 200; ++i) expected += QString("block %1\r\n").arg(i);
  EXPECT_EQ(dlg->LogControl().Text(), expected);
}

TEST_F(WindowDispatch, AnExceptionInAJobStillReturnsToReady) {
  jobs.body = [] { throw std::bad_alloc(); };
  ExamineFirst();
  EXPECT_TRUE(dlg->LogControl().Text().endsWith("The job stopped on an internal error.\r\n"));
  EXPECT_TRUE(B(IDC_OPEN)->isEnabled());
  EXPECT_EQ(dlg->ProgressControl().Pos(), 0);
}

class NoThreads final : public IWorkerLauncher {
 public:
  bool Launch(std::function<void()>) override {
    ++tries;
    return false;
  }
  int tries = 0;
};

class WindowDispatchWithoutThreads : public WindowDispatch {
 protected:
  void SetUp() override {
    launcher = &noThreads;
    WindowDispatch::SetUp();
  }
  NoThreads noThreads;
};

TEST_F(WindowDispatchWithoutThreads, AWorkerThatCannotStartLeavesTheButtonsUsable) {
  answer = u"/data/fw.S19";
  B(IDC_OPEN)->click();
  ASSERT_TRUE(PumpUntil([&] { return noThreads.tries == 1 && Idle(); }, 5000));
  EXPECT_TRUE(jobs.Calls().empty());
  EXPECT_TRUE(dlg->LogControl().Text().endsWith("Could not start the job: no thread available.\r\n"));
  for (int id : {IDOK, IDC_OPEN}) EXPECT_TRUE(dlg->GetDlgItem(id)->isEnabled()) << id;
  // Open can be tried again.
  B(IDC_OPEN)->click();
  ASSERT_TRUE(PumpUntil([&] { return noThreads.tries == 2 && Idle(); }, 5000));
}

}  // namespace

}  // namespace fennwick
