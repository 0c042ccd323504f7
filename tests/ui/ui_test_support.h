#pragma once
// Helpers for the window's tests: pumping the event loop, controls by id, fake jobs.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <memory>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/mcu_jobs.h"
#include "platform/system_serial.h"
#include "ui/log_console.h"
#include "ui/control_ids.h"
#include "ui/flasher_dlg.h"
#include "ui/job_dispatch.h"
#include "ui/log_control.h"
#include "ui/progress_control.h"
#include "ui/touch_dialogs.h"

namespace fennwick {

// Processes events until `done` holds or `timeoutMs` has passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

inline void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

inline QPushButton* Button(const CFlasherDlg& dlg, int id) { return qobject_cast<QPushButton*>(dlg.GetDlgItem(id)); }

inline std::u16string U16(const QString& s) {
  return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<size_t>(s.size()));
}

// Answers the next file dialog with `path` as an operator would: to the file's folder,
// a tap on the file, a second tap to open it. After 20 s it is cancelled, so that a dialog
// that never comes or never accepts fails the test instead of hanging it.
inline void AnswerFileDialog(const QString& path, QString& filterSeen) {
  auto* timer = new QTimer(qApp);
  auto* clock = new QElapsedTimer;
  clock->start();
  QObject::connect(timer, &QTimer::timeout, [=, &filterSeen] {
    auto* fd = qobject_cast<CS19FileDialog*>(QApplication::activeModalWidget());
    if (fd == nullptr) {
      if (!filterSeen.isEmpty() || clock->elapsed() > 20000) {  // answered, or never came
        timer->stop();
        timer->deleteLater();
        delete clock;
      }
      return;
    }
    filterSeen = fd->Filter()->currentText();
    if (clock->elapsed() > 20000) {
      fd->reject();
      return;
    }
    const QFileInfo file(path);
    fd->SetFolder(file.absolutePath());
    const auto rows = fd->List()->findItems(file.fileName(), Qt::MatchExactly);
    if (rows.size() != 1) return;
    fd->TapRow(fd->List()->row(rows.first()));
    fd->TapRow(fd->List()->row(rows.first()));
  });
  timer->start(50);
}

inline void AnswerFileDialog(const QString& path) {
  static QString filterSeen;
  filterSeen.clear();
  AnswerFileDialog(path, filterSeen);
}

// The dialog in an ordinary W x H window rather than full-screen, running `jobs`.
inline DialogSetup WindowOf(int width, int height, IJobRunner* jobs = nullptr) {
  DialogSetup s;
  s.screenWidth = width;
  s.screenHeight = height;
  s.fullScreen = false;
  s.jobs = jobs;
  return s;
}

// The dialog as start-up leaves it: initialised, which identifies the MCU, and shown.
inline std::unique_ptr<CFlasherDlg> ShownDialog(const DialogSetup& setup) {
  auto dlg = std::make_unique<CFlasherDlg>(setup);
  dlg->OnInitDialog();
  dlg->show();
  return dlg;
}

// The window on a real line at `path` (a simulator's), with the link's own jobs, at 800x480
// in a window of its own: a test adds its answers to `setup` (a file to pick, the operator's
// word) and then shows the dialog, which identifies the MCU.
struct WindowOnLine {
  explicit WindowOnLine(const std::string& path) {
    port.SetGivenPort(path);
    setup.identify = [this] { port.OpenAndIdentify(u"COM2:"); };
  }
  CFlasherDlg& Show() {
    dlg = ShownDialog(setup);
    return *dlg;
  }
  SystemSerialDevice device;
  CMcuPort port{device, DefaultClock()};
  McuJobRunner jobs{port};
  DialogSetup setup = WindowOf(800, 480, &jobs);
  std::unique_ptr<CFlasherDlg> dlg;
};

// Jobs that record what they were asked, report through the log console as the real
// ones do, and can be held running until the test releases them.
class FakeJobs final : public IJobRunner {
 public:
  struct Call {
    int32_t kind;
    std::u16string path;
  };
  void Program(const char16_t* path) override { Run(kJobProgram, path); }
  void Examine(const char16_t* path) override { Run(kJobExamine, path); }

  std::vector<Call> Calls() {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
  }
  std::atomic<bool> hold{false};
  std::atomic<int> running{0};
  std::atomic<int> maxRunning{0};
  std::function<void()> body;  // extra work on the worker thread

 private:
  void Run(int32_t kind, const char16_t* path) {
    const int now = ++running;
    int seen = maxRunning.load();
    while (now > seen && !maxRunning.compare_exchange_weak(seen, now)) {
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      calls_.push_back({kind, path});
    }
    LogPrintf(kind == kJobProgram ? "program\r\n" : "examine\r\n");
    SetProgressRange(10);
    SetProgressPos(7);
    if (body) body();
    while (hold) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    --running;
  }

  std::mutex mu_;
  std::vector<Call> calls_;
};

}  // namespace fennwick
