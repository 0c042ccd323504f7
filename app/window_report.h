#pragma once
// A plain-text account of the window as it stands: the screen, the window's own geometry
// and state, every control's place and state, and the log. Scripts that run the window
// where nobody looks at it (a kiosk compositor in CI, the start-up benchmark) read it.
#include <QString>
#include <cstdint>

namespace fennwick {

class CFlasherDlg;

struct WindowTimes {
  int64_t identifiedUs = 0;  // wall clock (µs since the epoch) when identification ended
  int64_t shownUs = 0;       // ... when the window was first on the screen at its size
};

// Microseconds since the epoch: comparable with `date +%s%6N` in a script.
int64_t WallClockUs();

// Lines "screen W H", "window W H fullscreen|windowed", "control NAME X Y W H
// shown|hidden enabled|disabled" in template order, "identified_us N", "shown_us N",
// then "log" and the log's text as it is, to the end.
QString DescribeWindow(const CFlasherDlg& dlg, int screenWidth, int screenHeight, const WindowTimes& times);

}  // namespace fennwick
