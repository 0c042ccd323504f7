// fennwick: the operator's window.
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/flasher_app.h"
#include "app/globals.h"
#include "app/mcu_jobs.h"
#include "app/options.h"
#include "app/stop_signals.h"
#include "app/window_report.h"
#include "link/exit_codes.h"
#include "platform/port_name.h"
#include "platform/std_descriptors.h"
#include "ui/flasher_dlg.h"

namespace fennwick {

#if defined(__SANITIZE_ADDRESS__)
// Sanitized builds: the desktop's and the Wayland client's own libraries keep a few
// allocations to the end.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libwayland-client.so\nleak:libQt6WaylandClient.so\n"
         "leak:libEGL_mesa.so\n";
}
// Those libraries have no frame pointers: only a full unwind shows which of them kept a block.
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
#endif

namespace {
constexpr int kReportWaitMs = 10000;

bool WriteText(const QString& path, const QString& text) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const QByteArray bytes = text.toUtf8();
  return file.write(bytes) == bytes.size() && file.flush();
}
}  // namespace

}  // namespace fennwick

using namespace fennwick;

int main(int argc, char** argv) {
  // Before the port is opened: it must not become stdout or stderr.
  if (!EnsureStandardDescriptors()) return kExitFailure;
  // Before the port is opened too: a stop must find its settings to put back.
  if (!InstallStopSignals()) {
    std::fprintf(stderr, "fennwick: cannot prepare for stop signals: %s\n", std::strerror(errno));
    return kExitFailure;
  }
  // The command line is read before the toolkit starts, so that --help and mistakes are
  // answered without a display.
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  WindowOptions options;
  QString message;
  switch (ParseWindowOptions(args, options, message, PortFromEnvironment())) {
    case ParseResult::Run:
      break;
    case ParseResult::Help:
    case ParseResult::Version:
      std::printf("%s\n", qPrintable(message));
      return kExitOk;
    case ParseResult::Error:
      std::fprintf(stderr, "fennwick: %s\nTry 'fennwick --help'.\n", qPrintable(message));
      return kExitUsage;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    std::fprintf(stderr,
                 "fennwick: no display to open the window on (set DISPLAY, or QT_QPA_PLATFORM such as "
                 "linuxfb or eglfs on the device)\n");
    return kExitFailure;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("fennwick"));
  QApplication::setApplicationVersion(QStringLiteral(FENNWICK_VERSION));

  // The global port exists before the command line is read: it learns the port given here,
  // before anything opens it.
  g_mcuPort.SetGivenPort(options.port);

  DialogSetup setup;
  if (options.screenWidth > 0) {
    setup.screenWidth = options.screenWidth;
    setup.screenHeight = options.screenHeight;
    setup.fullScreen = false;
  } else {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
      std::fprintf(stderr, "fennwick: no screen to show the window on\n");
      return kExitFailure;
    }
    setup.screenWidth = screen->size().width();
    setup.screenHeight = screen->size().height();
  }
  McuJobRunner jobs(g_mcuPort);
  setup.jobs = &jobs;
  // Asked by the run between blocks: a stop request ends it after the block in flight.
  std::atomic<bool> runCut{false};
  g_mcuPort.SetCancel([&runCut] {
    if (!StopRequested()) return false;
    runCut = true;
    return true;
  });
  WindowTimes times;
  IdentifyOutcome identified;
  setup.identify = [&times, &jobs, &identified] {
    identified = jobs.Identify();
    times.identifiedUs = WallClockUs();
  };

  bool reportFailed = false;
  bool unidentified = false;
  bool stopped = false;
  const bool report = !options.screenshot.isEmpty() || !options.state.isEmpty() || options.quitAfterIdentify ||
                      !options.program.isEmpty();
  theApp.InitInstance([&] {
    if (StopRequested()) return 0;  // stopped during the start-up's wait: no window at all
    CFlasherDlg dlg(setup);
    auto writeState = [&] {
      if (!options.state.isEmpty() &&
          !WriteText(options.state, DescribeWindow(dlg, setup.screenWidth, setup.screenHeight, times))) {
        std::fprintf(stderr, "fennwick: cannot write %s\n", qPrintable(options.state));
        reportFailed = true;
      }
    };
    // A stop ends the window once no job runs: a programming run stops after its block in
    // flight (the cancel above) and logs its verdict first. The port's settings are put back
    // when the program ends.
    WatchStopSignals(dlg, [&] {
      stopped = true;
      auto finish = [&] {
        for (QDialog* child : dlg.findChildren<QDialog*>()) {
          if (child->isVisible()) child->reject();  // a file dialog or a confirmation
        }
        writeState();  // its log now ends with the verdict
        dlg.done(QDialog::Rejected);
      };
      if (dlg.State() != CFlasherDlg::JobState::Running) {
        finish();
        return;
      }
      std::fprintf(stderr, "fennwick: %s (another signal stops at once)\n",
                   g_jobKind == kJobProgram ? "stopping after the current block" : "stopping when the examination ends");
      QObject::connect(&dlg, &CFlasherDlg::jobFinished, &dlg, finish);
    });
    if (report) {
      // Identification runs before the modal loop starts; the report waits until the
      // window is on the screen at its final size, which a compositor decides (a kiosk
      // shell makes it full-screen some frames after it is first shown).
      auto* poll = new QTimer(&dlg);
      auto waited = std::make_shared<QElapsedTimer>();  // from the loop's start: a silent MCU takes 10 s
      QObject::connect(poll, &QTimer::timeout, &dlg, [&, poll, waited] {
        if (!waited->isValid()) waited->start();
        const QWindow* window = dlg.windowHandle();
        const bool exposed = window != nullptr && window->isExposed();
        const bool sized = !setup.fullScreen || dlg.size() == QSize(setup.screenWidth, setup.screenHeight);
        if (!(exposed && sized) && waited->elapsed() < kReportWaitMs) return;
        poll->stop();
        times.shownUs = WallClockUs();
        if (!exposed || !sized) {
          std::fprintf(stderr, "fennwick: the window was not shown at %dx%d within %d ms (it is %dx%d)\n",
                       setup.screenWidth, setup.screenHeight, kReportWaitMs, dlg.width(), dlg.height());
          reportFailed = true;
        }
        // A few frames more, so that the picture has the final size's layout painted.
        QTimer::singleShot(100, &dlg, [&] {
          if (!options.screenshot.isEmpty() && !dlg.grab().save(options.screenshot, "PNG")) {
            std::fprintf(stderr, "fennwick: cannot write %s\n", qPrintable(options.screenshot));
            reportFailed = true;
          }
          writeState();
          if (!options.program.isEmpty() && !stopped) {
            // Start follows the examination's end, as an operator's tap would.
            auto started = std::make_shared<bool>(false);
            QObject::connect(&dlg, &CFlasherDlg::jobFinished, &dlg, [&dlg, started] {
              if (*started || StopRequested()) return;
              *started = true;
              dlg.OnBnClickedStart();
            });
            dlg.OpenFile(options.program.toStdU16String());
          }
          if (options.quitAfterIdentify) {
            // A caller that waits for the identification learns whether the MCU answered.
            unidentified = !identified.versionReplied;
            dlg.done(QDialog::Accepted);
          }
        });
      });
      poll->start(20);
    }
    return dlg.DoModal();
  });
  if (unidentified) std::fprintf(stderr, "fennwick: the MCU did not answer the identification\n");
  if (runCut) return kExitInterrupted;
  // A window whose MCU never answered ends as a port that could not be set up: nothing was
  // programmed through it.
  if (reportFailed) return kExitFailure;
  return unidentified ? kExitPort : kExitOk;
}
