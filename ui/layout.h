#pragma once
// The screen-scaled layout: every control placed on a 225 x 240 grid stretched over the
// screen. Pure arithmetic, so it is tested without widgets.
#include <array>

namespace fennwick {

struct ControlRect {
  int id;
  int x, y, width, height;
};

struct DialogLayout {
  int width = 0;  // the dialog covers 0,0 to width,height: the whole screen
  int height = 0;
  int fontCellHeight = 0;  // the font's cell height in pixels (ascent plus descent)
  // In layout order: title, log, progress, Snboot, Booter, Logo, NK, Open, Start, Quit.
  std::array<ControlRect, 10> controls{};
  const ControlRect* Find(int id) const;
};

// k*W/225 rounded toward zero, formed as the device did: the integer product times the
// double nearest to 1/225 (1/240 for vertical quantities).
int ScaleX(int k, int screenWidth);
int ScaleY(int k, int screenHeight);

// Negative sizes are taken as 0.
DialogLayout ComputeLayout(int screenWidth, int screenHeight);

}  // namespace fennwick
