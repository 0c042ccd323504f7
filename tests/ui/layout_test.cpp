// The screen-scaled layout, without widgets.
#include <gtest/gtest.h>

#include "ui/control_ids.h"
#include "ui/layout.h"

namespace fennwick {

namespace {

struct Expected {
  int id;
  int x, y, w, h;
};

struct LayoutCase {
  int W, H;
  int font;
  std::vector<Expected> rects;
};

const LayoutCase kCases[] = {
    {800, 480, 35,
     {{IDC_TITLE, 3, 4, 775, 56},
      {IDC_LOG, 3, 60, 764, 340},
      {IDC_PROGRESS, 3, 400, 764, 20},
      {IDC_SNBOOT, 0, 420, 106, 60},
      {IDC_BOOTER, 106, 420, 106, 60},
      {IDC_LOGO, 212, 420, 106, 60},
      {IDC_NK, 318, 420, 106, 60},
      {IDC_OPEN, 424, 420, 120, 60},
      {IDC_START, 544, 420, 120, 60},
      {IDOK, 664, 420, 120, 60}}},
    {320, 240, 14,
     {{IDC_TITLE, 1, 2, 310, 28},
      {IDC_LOG, 1, 30, 305, 170},
      {IDC_PROGRESS, 1, 200, 305, 10},
      {IDC_SNBOOT, 0, 210, 42, 30},
      {IDC_BOOTER, 42, 210, 42, 30},
      {IDC_LOGO, 84, 210, 42, 30},
      {IDC_NK, 126, 210, 42, 30},
      {IDC_OPEN, 168, 210, 48, 30},
      {IDC_START, 216, 210, 48, 30},
      {IDOK, 264, 210, 48, 30}}},
};

TEST(WindowLayout, ScreensListedInTheDesign) {
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.W << "x" << c.H);
    const DialogLayout l = ComputeLayout(c.W, c.H);
    EXPECT_EQ(l.width, c.W);
    EXPECT_EQ(l.height, c.H);
    EXPECT_EQ(l.fontCellHeight, c.font);
    ASSERT_EQ(l.controls.size(), c.rects.size());
    for (size_t i = 0; i < c.rects.size(); ++i) {
      const auto& e = c.rects[i];
      const auto& r = l.controls[i];
      SCOPED_TRACE(e.id);
      EXPECT_EQ(r.id, e.id);  // layout order
      EXPECT_EQ(r.x, e.x);
      EXPECT_EQ(r.y, e.y);
      EXPECT_EQ(r.width, e.w);
      EXPECT_EQ(r.height, e.h);
    }
  }
}

// Each quotient is formed in floating point; it must still be the exact integer quotient,
// also where k*W is a multiple of 225, where a value just below the integer would truncate
// one too low.
TEST(WindowLayout, ScaledQuantitiesAreExactIntegerQuotients) {
  const int ks[] = {1, 2, 10, 28, 30, 34, 170, 215, 218};
  for (int s = 0; s <= 8192; ++s) {
    for (int k : ks) {
      ASSERT_EQ(ScaleX(k, s), k * s / 225) << "k=" << k << " W=" << s;
      ASSERT_EQ(ScaleY(k, s), k * s / 240) << "k=" << k << " H=" << s;
    }
  }
}

// Positions run on from the truncated widths of the controls before them, hidden or not,
// and the rows stack without gaps.
TEST(WindowLayout, RunningPositionsAccumulateTruncatedSizes) {
  for (int W : {225, 240, 320, 480, 640, 800, 1023, 1280, 1920}) {
    for (int H : {240, 272, 320, 480, 600, 1080}) {
      const DialogLayout l = ComputeLayout(W, H);
      const auto& c = l.controls;
      for (size_t i = 1; i < 3; ++i) EXPECT_EQ(c[i].y, c[i - 1].y + c[i - 1].height);
      EXPECT_EQ(c[3].y, c[2].y + c[2].height);
      EXPECT_EQ(c[3].x, 0);
      for (size_t i = 4; i < c.size(); ++i) {
        EXPECT_EQ(c[i].x, c[i - 1].x + c[i - 1].width) << W << "x" << H << " #" << i;
        EXPECT_EQ(c[i].y, c[3].y);
      }
      EXPECT_LE(c.back().x + c.back().width, W);
      EXPECT_LE(c[3].y + c[3].height, H);
    }
  }
}

TEST(WindowLayout, DegenerateScreensGiveEmptyRectanglesNotNegativeOnes) {
  for (auto [W, H] : {std::pair{0, 0}, {-5, 480}, {800, -1}, {1, 1}}) {
    const DialogLayout l = ComputeLayout(W, H);
    for (const auto& r : l.controls) {
      EXPECT_GE(r.x, 0);
      EXPECT_GE(r.y, 0);
      EXPECT_GE(r.width, 0);
      EXPECT_GE(r.height, 0);
    }
    EXPECT_GE(l.fontCellHeight, 0);
  }
}

}  // namespace

}  // namespace fennwick
