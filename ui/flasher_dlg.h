#pragma once
// The operator's window: title, log, progress bar and a row of buttons laid out over the
// whole screen. Open and Start hand their work to a worker thread.
#include <QBasicTimer>
#include <QDialog>
#include <QFont>
#include <QIcon>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ui/job_dispatch.h"
#include "ui/layout.h"

class QPushButton;

namespace fennwick {

class CLogEdit;
class CProgressBar;

struct DialogSetup {
  int screenWidth = 0;   // W and H of the layout: the screen the window fills
  int screenHeight = 0;
  bool fullScreen = true;  // false: an ordinary W x H window on a desktop
  // Opens the port and identifies the MCU; the last step of initialisation.
  std::function<void()> identify;
  IJobRunner* jobs = nullptr;
  // Null: a thread of the dialog's own.
  IWorkerLauncher* launcher = nullptr;
  // Asks for a file; no value when the operator cancels. Null: the S19 file dialog.
  std::function<std::optional<std::u16string>(QWidget* parent)> pickFile;
  // Asks whether to program a file despite the concerns found; null: the confirmation dialog.
  std::function<bool(QWidget* parent, const std::vector<std::string>& concerns)> confirmStart;
};

// The font of all controls: Arial, normal weight, `cellHeight` pixels from the top of the
// highest glyph to the bottom of the lowest, as the layout asks.
QFont MakeDialogFont(int cellHeight, qreal logicalDpi);

class CFlasherDlg final : public QDialog {
  Q_OBJECT

 public:
  explicit CFlasherDlg(DialogSetup setup, QWidget* parent = nullptr);
  ~CFlasherDlg() override;

  // Initialises (identification included), then runs the dialog modally.
  int DoModal();
  bool OnInitDialog();

  QWidget* GetDlgItem(int id) const;
  CLogEdit& LogControl() const { return *m_log; }
  CProgressBar& ProgressControl() const { return *m_progress; }
  const QFont& DialogFont() const { return m_font; }
  const DialogLayout& Layout() const { return layout_; }

  enum class JobState { Idle, Armed, Running };
  JobState State() const { return job_; }

  void OnBnClickedOpen();
  void OnBnClickedStart();
  // What Open does once a file has been picked: arms its examination. Ignored while a job
  // is armed or running.
  void OpenFile(const std::u16string& path);

  // The cancel route and Quit end the dialog, except while a job runs.
  void done(int result) override;

 signals:
  void jobFinished();

 protected:
  void timerEvent(QTimerEvent* e) override;

 private:
  std::optional<std::u16string> PickFile();
  bool ConfirmStart(const std::vector<std::string>& concerns);
  void ArmJob(int32_t kind);
  // A program job that examined a changed file instead of flashing it ends here: its bytes
  // go out only on the operator's word.
  void AskAboutFreshExamination();
  void StartWorker();
  void WorkerThreadProc();
  void SetJobButtonsEnabled(bool enabled);

  // The controls are children of the dialog, which owns and deletes them.
  QFont m_font;
  CProgressBar* m_progress = nullptr;
  CLogEdit* m_log = nullptr;
  QIcon m_hIcon;

  DialogSetup setup_;
  DialogLayout layout_;
  std::unique_ptr<IWorkerLauncher> ownLauncher_;
  IWorkerLauncher* launcher_ = nullptr;
  QBasicTimer jobTimer_;
  JobState job_ = JobState::Idle;
};

}  // namespace fennwick
