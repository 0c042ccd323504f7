#include "ui/flasher_dlg.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QTimerEvent>
#include <algorithm>

#include "ui/log_console.h"
#include "ui/control_ids.h"
#include "ui/gui_thread.h"
#include "ui/log_control.h"
#include "ui/progress_control.h"
#include "ui/touch_dialogs.h"

// Resources of a static library must be registered by name, outside any namespace.
static void InitFennwickResources() { Q_INIT_RESOURCE(fennwick); }

namespace fennwick {

namespace {
constexpr int kJobTimerMs = 100;
}  // namespace

QFont MakeDialogFont(int cellHeight, qreal logicalDpi) {
  QFont font(QStringLiteral("Arial"));
  font.setStyleHint(QFont::SansSerif);  // FF_SWISS: any sans face if Arial has no match
  font.setWeight(QFont::Normal);
  // The height asked for is a cell height (ascent plus descent, internal leading
  // included), while Qt sizes a font by its em. The face's own metrics give the ratio
  // of the two (2288/2048 for Arial and its metric twin), so the em is the cell height
  // divided by it; a fractional point size keeps the cell at the asked height instead
  // of rounding the em to whole pixels.
  constexpr qreal kReferencePixels = 1000;
  font.setPixelSize(static_cast<int>(kReferencePixels));
  const QFontMetricsF reference(font);
  const qreal cellPerEm = (reference.ascent() + reference.descent()) / kReferencePixels;
  const qreal em = cellPerEm > 0 ? cellHeight / cellPerEm : cellHeight;
  if (logicalDpi <= 0) logicalDpi = 96;
  font.setPointSizeF(std::max<qreal>(em, 1) * 72 / logicalDpi);
  return font;
}

CFlasherDlg::CFlasherDlg(DialogSetup setup, QWidget* parent) : QDialog(parent), setup_(std::move(setup)) {
  InitFennwickResources();
  m_hIcon.addFile(QStringLiteral(":/icons/fennwick-32.png"), QSize(32, 32));
  m_hIcon.addFile(QStringLiteral(":/icons/fennwick-16.png"), QSize(16, 16));

  if (setup_.launcher != nullptr) {
    launcher_ = setup_.launcher;
  } else {
    ownLauncher_ = std::make_unique<ThreadLauncher>();
    launcher_ = ownLauncher_.get();
  }
  if (setup_.fullScreen) setWindowFlag(Qt::FramelessWindowHint);

  // The controls in template order, which is also their tab order.
  for (const ControlTemplate& t : kDialogTemplate) {
    QWidget* w = nullptr;
    const QString caption = QString::fromLatin1(t.caption);
    switch (t.kind) {
      case ControlKind::PushButton: {
        auto* b = new QPushButton(caption, this);
        if (t.id == IDOK) {
          b->setDefault(true);
          connect(b, &QPushButton::clicked, this, &QDialog::accept);
        } else if (t.id == IDC_OPEN) {
          connect(b, &QPushButton::clicked, this, &CFlasherDlg::OnBnClickedOpen);
        } else if (t.id == IDC_START) {
          connect(b, &QPushButton::clicked, this, &CFlasherDlg::OnBnClickedStart);
        }
        w = b;
        break;
      }
      case ControlKind::Progress:
        m_progress = new CProgressBar(this);
        w = m_progress;
        break;
      case ControlKind::Static: {
        auto* label = new QLabel(caption, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        w = label;
        break;
      }
      case ControlKind::Edit:
        m_log = new CLogEdit(this);
        w = m_log;
        break;
    }
    w->setObjectName(QString::fromLatin1(t.name));
    w->setProperty("controlId", t.id);
  }
}

CFlasherDlg::~CFlasherDlg() {
  // A job that is still running needs this thread to apply its output before it can end;
  // let it finish, so that it never reaches a destroyed control.
  while (job_ == JobState::Running) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  jobTimer_.stop();
  if (g_logEdit == m_log) g_logEdit = nullptr;
  if (g_progressCtrl == m_progress) g_progressCtrl = nullptr;
}

QWidget* CFlasherDlg::GetDlgItem(int id) const {
  for (QObject* child : children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w != nullptr && w->property("controlId").toInt() == id) return w;
  }
  return nullptr;
}

bool CFlasherDlg::OnInitDialog() {
  const int W = setup_.screenWidth;
  const int H = setup_.screenHeight;
  layout_ = ComputeLayout(W, H);
  m_font = MakeDialogFont(layout_.fontCellHeight, logicalDpiY());
  setWindowIcon(m_hIcon);
  setWindowTitle(QStringLiteral("Fennwick"));
  resize(layout_.width, layout_.height);
  move(0, 0);

  for (const ControlRect& r : layout_.controls) {
    QWidget* w = GetDlgItem(r.id);
    if (w == nullptr) continue;  // a missing control keeps its place in the running sums
    w->setFont(m_font);
    w->setGeometry(r.x, r.y, r.width, r.height);
    if (r.id == IDC_TITLE) {
      static_cast<QLabel*>(w)->setText(QStringLiteral("Fennwick"));
    } else if (std::find(kHiddenButtons.begin(), kHiddenButtons.end(), r.id) != kHiddenButtons.end()) {
      w->hide();
    } else if (r.id == IDC_START) {
      w->setEnabled(false);
    }
  }

  // Published before the port is opened, so identification shows in the log.
  g_logEdit = m_log;
  g_progressCtrl = m_progress;
  if (setup_.identify) setup_.identify();

  // The first tab stop takes the focus.
  if (QWidget* quit = GetDlgItem(IDOK)) quit->setFocus();
  return true;
}

int CFlasherDlg::DoModal() {
  OnInitDialog();
  if (setup_.fullScreen) setWindowState(windowState() | Qt::WindowFullScreen);
  return exec();
}

void CFlasherDlg::SetJobButtonsEnabled(bool enabled) {
  for (int id : enabled ? kJobEnableOrder : kJobDisableOrder) {
    if (QWidget* w = GetDlgItem(id)) w->setEnabled(enabled);
  }
}

// Open and Start do nothing while a job is armed or running: the buttons stay enabled
// for the timer's 100 ms, and a second command then would start a second job beside
// the first.
void CFlasherDlg::OnBnClickedStart() {
  if (job_ != JobState::Idle) return;
  // A file that the examination or the check found doubtful goes to the MCU only on the
  // operator's word; a clean one starts at once.
  if (setup_.jobs != nullptr) {
    const std::vector<std::string> concerns = setup_.jobs->ProgramConcerns();
    if (!concerns.empty() && (!ConfirmStart(concerns) || job_ != JobState::Idle)) return;
  }
  ArmJob(kJobProgram);
}

void CFlasherDlg::ArmJob(int32_t kind) {
  g_jobKind = kind;
  jobTimer_.start(kJobTimerMs, this);
  job_ = JobState::Armed;
}

void CFlasherDlg::AskAboutFreshExamination() {
  // An Open in the meantime, or a closed window, has made the question moot.
  if (job_ != JobState::Idle || setup_.jobs == nullptr || isHidden()) return;
  const std::vector<std::string> concerns = setup_.jobs->TakeFreshExamination();
  if (concerns.empty() || !ConfirmStart(concerns) || job_ != JobState::Idle) return;
  setup_.jobs->ConfirmExamined();
  ArmJob(kJobProgram);
}

void CFlasherDlg::OnBnClickedOpen() {
  if (job_ != JobState::Idle) return;
  const auto path = PickFile();
  if (path) OpenFile(*path);
}

void CFlasherDlg::OpenFile(const std::u16string& path) {
  if (job_ != JobState::Idle) return;
  g_selectedFile = path;
  ArmJob(kJobExamine);
}

std::optional<std::u16string> CFlasherDlg::PickFile() {
  if (setup_.pickFile) return setup_.pickFile(this);
  const QString last = QString::fromStdU16String(g_selectedFile);
  CS19FileDialog dialog(this, layout_.width, layout_.height, m_font,
                        StartFolder(last, RemovableMounts(), QDir::homePath()));
  if (dialog.exec() != QDialog::Accepted || dialog.SelectedFile().isEmpty()) return std::nullopt;
  return dialog.SelectedFile().toStdU16String();
}

bool CFlasherDlg::ConfirmStart(const std::vector<std::string>& concerns) {
  if (setup_.confirmStart) return setup_.confirmStart(this, concerns);
  ConfirmDialog dialog(this, layout_.width, layout_.height, m_font, concerns);
  return dialog.exec() == QDialog::Accepted;
}

void CFlasherDlg::timerEvent(QTimerEvent* e) {
  if (e->timerId() != jobTimer_.timerId()) {
    QDialog::timerEvent(e);
    return;
  }
  SetJobButtonsEnabled(false);
  jobTimer_.stop();
  job_ = JobState::Running;
  StartWorker();
}

void CFlasherDlg::StartWorker() {
  if (launcher_->Launch([this] { WorkerThreadProc(); })) return;
  // Nothing would ever enable the buttons again.
  LogPrintfTo(m_log, "Could not start the job: no thread available.\r\n");
  SetJobButtonsEnabled(true);
  job_ = JobState::Idle;
}

void CFlasherDlg::WorkerThreadProc() {
  try {
    if (setup_.jobs != nullptr) RunSelectedJob(*setup_.jobs);
  } catch (...) {
    // The jobs throw nothing of their own; an allocation failure must still leave the
    // window usable.
    LogPrintfTo(m_log, "The job stopped on an internal error.\r\n");
  }
  SetProgressPosOn(m_progress, 0);
  // The last act: after it the dialog may be closed, so nothing of it is touched later.
  RunOnOwnerThread(this, [this] {
    SetJobButtonsEnabled(true);
    job_ = JobState::Idle;
    emit jobFinished();
    // Asked once this call has returned: the worker is not held up by the operator.
    QMetaObject::invokeMethod(this, &CFlasherDlg::AskAboutFreshExamination, Qt::QueuedConnection);
  });
}

void CFlasherDlg::done(int result) {
  if (job_ == JobState::Running) return;
  jobTimer_.stop();  // an armed job dies with the window
  job_ = JobState::Idle;
  QDialog::done(result);
}

}  // namespace fennwick
