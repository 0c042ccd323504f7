// fennwick: the operator's window.
#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/flasher_app.h"
#include "app/globals.h"
#include "app/mcu_jobs.h"
#include "app/options.h"
#include "platform/std_descriptors.h"
#include "ui/flasher_dlg.h"

#if defined(__SANITIZE_ADDRESS__)
// Sanitized builds: the desktop's own libraries keep a few allocations to the end.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdbus-1.so\nleak:libfontconfig.so\n"; }
#endif

int main(int argc, char** argv) {
  // Before the port is opened: it must not become stdout or stderr.
  if (!EnsureStandardDescriptors()) return 1;
  // The command line is read before the toolkit starts, so that --help and mistakes are
  // answered without a display.
  QStringList args;
  for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  WindowOptions options;
  QString message;
  switch (ParseWindowOptions(args, options, message)) {
    case ParseResult::Run:
      break;
    case ParseResult::Help:
    case ParseResult::Version:
      std::printf("%s\n", qPrintable(message));
      return 0;
    case ParseResult::Error:
      std::fprintf(stderr, "fennwick: %s\nTry 'fennwick --help'.\n", qPrintable(message));
      return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    std::fprintf(stderr,
                 "fennwick: no display to open the window on (set DISPLAY, or QT_QPA_PLATFORM such as "
                 "linuxfb or eglfs on the device)\n");
    return 1;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("fennwick"));
  QApplication::setApplicationVersion(QStringLiteral(FENNWICK_VERSION));

  // The device maps its port names when it opens them; the option takes the place of
  // the environment variable, which it overrides.
  if (options.port) ::setenv("FENNWICK_PORT", options.port->c_str(), 1);

  DialogSetup setup;
  if (options.screenWidth > 0) {
    setup.screenWidth = options.screenWidth;
    setup.screenHeight = options.screenHeight;
    setup.fullScreen = false;
  } else {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
      std::fprintf(stderr, "fennwick: no screen to show the window on\n");
      return 1;
    }
    setup.screenWidth = screen->size().width();
    setup.screenHeight = screen->size().height();
  }
  McuJobRunner jobs(g_mcuPort);
  setup.jobs = &jobs;
  setup.identify = [] { g_mcuPort.OpenAndIdentify(u"COM2:"); };

  bool screenshotFailed = false;
  bool unidentified = false;
  theApp.InitInstance([&] {
    CFlasherDlg dlg(setup);
    if (!options.screenshot.isEmpty() || options.quitAfterIdentify) {
      // Identification runs before the modal loop starts, so this fires after it, once
      // the window has been shown.
      QTimer::singleShot(300, &dlg, [&] {
        if (!options.screenshot.isEmpty() && !dlg.grab().save(options.screenshot, "PNG")) {
          std::fprintf(stderr, "fennwick: cannot write %s\n", qPrintable(options.screenshot));
          screenshotFailed = true;
        }
        if (options.quitAfterIdentify) {
          // A caller that waits for the identification learns whether the MCU answered.
          unidentified = !g_mcuPort.LastIdentify().versionReplied;
          dlg.done(QDialog::Accepted);
        }
      });
    }
    return dlg.DoModal();
  });
  if (unidentified) std::fprintf(stderr, "fennwick: the MCU did not answer the identification\n");
  return screenshotFailed ? 1 : unidentified ? 3 : 0;
}
