#include "app/window_report.h"

#include <QTextStream>
#include <chrono>

#include "ui/control_ids.h"
#include "ui/flasher_dlg.h"
#include "ui/log_control.h"

namespace fennwick {

int64_t WallClockUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

QString DescribeWindow(const CFlasherDlg& dlg, int screenWidth, int screenHeight, const WindowTimes& times) {
  QString text;
  QTextStream out(&text);
  out << "screen " << screenWidth << ' ' << screenHeight << '\n';
  out << "window " << dlg.width() << ' ' << dlg.height() << ' '
      << ((dlg.windowState() & Qt::WindowFullScreen) ? "fullscreen" : "windowed") << '\n';
  for (const ControlTemplate& t : kDialogTemplate) {
    const QWidget* w = dlg.GetDlgItem(t.id);
    if (w == nullptr) continue;
    const QRect r = w->geometry();
    out << "control " << t.name << ' ' << r.x() << ' ' << r.y() << ' ' << r.width() << ' ' << r.height() << ' '
        << (w->isVisible() ? "shown" : "hidden") << ' ' << (w->isEnabled() ? "enabled" : "disabled") << '\n';
  }
  out << "identified_us " << times.identifiedUs << '\n';
  out << "shown_us " << times.shownUs << '\n';
  out << "log\n" << dlg.LogControl().Text();
  out.flush();
  return text;
}

}  // namespace fennwick
