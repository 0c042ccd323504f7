// On a panel the operator has only a touch screen: every control, and whatever dialog Open
// or Start puts up, must answer a tap as it answers a click. Taps are synthesised touch
// events, which the toolkit turns into mouse events for controls that take no touch.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPointingDevice>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "fakes/temp_dir.h"
#include "ui_test_support.h"

namespace fennwick {

namespace {

QPointingDevice* TouchScreen() {
  static QPointingDevice* device = QTest::createTouchDevice(QInputDevice::DeviceType::TouchScreen);
  return device;
}

// One finger down and up at the middle of `w`.
void Tap(QWidget* w) {
  QWidget* top = w->window();
  const QPoint at = w->mapTo(top, w->rect().center());
  QTest::touchEvent(top, TouchScreen()).press(0, at, top);
  QTest::touchEvent(top, TouchScreen()).release(0, at, top);
}

// The dialog's button for `role` (accept or reject), as a button box offers it or, failing
// that, by its caption.
QPushButton* DialogButton(QWidget* dialog, QDialogButtonBox::ButtonRole role) {
  for (auto* box : dialog->findChildren<QDialogButtonBox*>()) {
    for (QAbstractButton* b : box->buttons()) {
      auto* push = qobject_cast<QPushButton*>(b);
      const auto r = box->buttonRole(b);
      const bool accepting = r == QDialogButtonBox::AcceptRole || r == QDialogButtonBox::YesRole;
      const bool rejecting = r == QDialogButtonBox::RejectRole || r == QDialogButtonBox::NoRole;
      if (push != nullptr && push->isVisible() &&
          (role == QDialogButtonBox::AcceptRole ? accepting : rejecting)) {
        return push;
      }
    }
  }
  const QStringList captions = role == QDialogButtonBox::AcceptRole
                                   ? QStringList{"Open", "OK", "Yes", "Start", "Program anyway"}
                                   : QStringList{"Cancel", "No"};
  for (auto* b : dialog->findChildren<QPushButton*>()) {
    if (b->isVisible() && captions.contains(b->text().remove(u'&'))) return b;
  }
  return nullptr;
}

// Answers every modal dialog that comes up while it lives, by taps only: types `path` into
// the dialog's text field when there is one and taps the button for `role`. A dialog that
// does not take the answer at once (a file dialog still reading its folder) is tapped again.
class TapAnswerer {
 public:
  TapAnswerer(QDialogButtonBox::ButtonRole role, QString path = {}) : role_(role), path_(std::move(path)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
    timer_.start(50);
  }
  int answered = 0;
  bool missingButton = false;

 private:
  void Answer() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || qobject_cast<CFlasherDlg*>(modal) != nullptr) return;
    if (!path_.isEmpty()) {
      for (auto* edit : modal->findChildren<QLineEdit*>()) {
        if (edit->isVisible() && edit->isEnabled()) {
          edit->setText(path_);
          break;
        }
      }
    }
    QPushButton* button = DialogButton(modal, role_);
    if (button == nullptr || !button->isEnabled()) {
      missingButton = button == nullptr;
      return;
    }
    ++answered;
    Tap(button);
  }
  QDialogButtonBox::ButtonRole role_;
  QString path_;
  QTimer timer_;
};

// The recording jobs, with a concern about every file, so that Start asks before it programs.
class DoubtfulJobs final : public IJobRunner {
 public:
  explicit DoubtfulJobs(FakeJobs& jobs) : jobs_(jobs) {}
  void Program(const char16_t* path) override { jobs_.Program(path); }
  void Examine(const char16_t* path) override { jobs_.Examine(path); }
  std::vector<std::string> ProgramConcerns() override { return {"The file has no description."}; }

 private:
  FakeJobs& jobs_;
};

class WindowTouch : public testing::Test {
 protected:
  void SetUp() override {
    g_jobKind = 0;
    g_selectedFile.clear();
    file = QString::fromStdString(dir / "board.S19");
    std::ofstream(file.toStdString()) << "S1078000AABBCCDD6A\r\n";
    dlg = ShownDialog(WindowOf(800, 480, &doubtful));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
  }
  void TearDown() override { dlg.reset(); }
  bool Idle() { return dlg->State() == CFlasherDlg::JobState::Idle; }

  TempDir dir;
  QString file;
  FakeJobs jobs;
  DoubtfulJobs doubtful{jobs};
  std::unique_ptr<CFlasherDlg> dlg;
};

TEST_F(WindowTouch, OpenStartAndTheFileDialogAnswerTaps) {
  // Start is disabled until a file has been examined: a tap does nothing.
  Tap(Button(*dlg, IDC_START));
  PumpFor(300);
  EXPECT_TRUE(jobs.Calls().empty());

  // Open, and the file dialog's reject button: no job.
  {
    TapAnswerer cancel(QDialogButtonBox::RejectRole);
    Tap(Button(*dlg, IDC_OPEN));
    ASSERT_TRUE(PumpUntil([&] { return QApplication::activeModalWidget() == nullptr; }, 20000));
    EXPECT_GE(cancel.answered, 1);
    EXPECT_FALSE(cancel.missingButton);
  }
  PumpFor(300);
  EXPECT_TRUE(jobs.Calls().empty());
  EXPECT_TRUE(Idle());

  // Open, the file's name typed, the dialog's accept button: the examination of that file.
  {
    TapAnswerer choose(QDialogButtonBox::AcceptRole, file);
    Tap(Button(*dlg, IDC_OPEN));
    ASSERT_TRUE(PumpUntil([&] { return jobs.Calls().size() == 1 && Idle(); }, 20000));
    EXPECT_FALSE(choose.missingButton);
  }
  EXPECT_EQ(jobs.Calls()[0].kind, kJobExamine);
  EXPECT_EQ(jobs.Calls()[0].path, U16(file));
  ASSERT_TRUE(Button(*dlg, IDC_START)->isEnabled());

  // Start asks first: its reject button sends nothing, its accept button programs that file.
  {
    TapAnswerer cancel(QDialogButtonBox::RejectRole);
    Tap(Button(*dlg, IDC_START));
    EXPECT_GE(cancel.answered, 1);
  }
  PumpFor(300);
  EXPECT_EQ(jobs.Calls().size(), 1u);
  {
    TapAnswerer confirm(QDialogButtonBox::AcceptRole);
    Tap(Button(*dlg, IDC_START));
    ASSERT_TRUE(PumpUntil([&] { return jobs.Calls().size() == 2 && Idle(); }, 20000));
    EXPECT_GE(confirm.answered, 1);
  }
  EXPECT_EQ(jobs.Calls()[1].kind, kJobProgram);
  EXPECT_EQ(jobs.Calls()[1].path, U16(file));
  EXPECT_TRUE(dlg->isVisible());
}

TEST_F(WindowTouch, QuitEndsTheWindowOnATapButNotWhileAJobRuns) {
  jobs.hold = true;
  g_selectedFile = U16(file);
  {
    TapAnswerer confirm(QDialogButtonBox::AcceptRole);
    dlg->OnBnClickedStart();
  }
  ASSERT_TRUE(PumpUntil([&] { return dlg->State() == CFlasherDlg::JobState::Running; }, 5000));
  Tap(Button(*dlg, IDOK));  // disabled while the job runs
  PumpFor(200);
  EXPECT_TRUE(dlg->isVisible());
  jobs.hold = false;
  ASSERT_TRUE(PumpUntil([&] { return Idle(); }, 5000));

  Tap(Button(*dlg, IDOK));
  EXPECT_TRUE(PumpUntil([&] { return !dlg->isVisible(); }, 2000));
  EXPECT_EQ(dlg->result(), QDialog::Accepted);
}

}  // namespace

}  // namespace fennwick
