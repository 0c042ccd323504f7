#include "ui/layout.h"

#include <cstdint>

#include "ui/control_ids.h"

namespace fennwick {

namespace {
constexpr double kInvGridWidth = 1.0 / 225.0;
constexpr double kInvGridHeight = 1.0 / 240.0;

int Scale(int k, int size, double inverse) {
  if (size < 0) size = 0;
  // 64-bit product: k * size overflows 32 bits only for absurd sizes, but must not wrap.
  const auto product = static_cast<int64_t>(k) * size;
  return static_cast<int>(static_cast<double>(product) * inverse);
}
}  // namespace

int ScaleX(int k, int screenWidth) { return Scale(k, screenWidth, kInvGridWidth); }
int ScaleY(int k, int screenHeight) { return Scale(k, screenHeight, kInvGridHeight); }

const ControlRect* DialogLayout::Find(int id) const {
  for (const auto& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

DialogLayout ComputeLayout(int W, int H) {
  if (W < 0) W = 0;
  if (H < 0) H = 0;
  DialogLayout l;
  l.width = W;
  l.height = H;
  l.fontCellHeight = ScaleX(10, W);  // follows the width, not the height

  const int left = ScaleX(1, W);
  const int y1 = ScaleY(2, H);
  const int y2 = y1 + ScaleY(28, H);
  const int y3 = y2 + ScaleY(170, H);
  const int y4 = y3 + ScaleY(10, H);
  const int h30 = ScaleY(30, H);
  const int w30 = ScaleX(30, W);
  const int w34 = ScaleX(34, W);

  // Hidden buttons keep their places: each x is the running sum of truncated widths.
  l.controls = {{
      {IDC_TITLE, left, y1, ScaleX(218, W), ScaleY(28, H)},
      {IDC_LOG, left, y2, ScaleX(215, W), ScaleY(170, H)},
      {IDC_PROGRESS, left, y3, ScaleX(215, W), ScaleY(10, H)},
      {IDC_SNBOOT, 0, y4, w30, h30},
      {IDC_BOOTER, w30, y4, w30, h30},
      {IDC_LOGO, 2 * w30, y4, w30, h30},
      {IDC_NK, 3 * w30, y4, w30, h30},
      {IDC_OPEN, 4 * w30, y4, w34, h30},
      {IDC_START, 4 * w30 + w34, y4, w34, h30},
      {IDOK, 4 * w30 + 2 * w34, y4, w34, h30},
  }};
  return l;
}

}  // namespace fennwick
