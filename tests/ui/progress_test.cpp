// The progress control: range, step and position as the log console sets them.
#include <gtest/gtest.h>

#include <QThread>

#include "ui_test_support.h"

namespace fennwick {

namespace {

TEST(WindowProgress, InitialRangeIsZeroToHundred) {
  CProgressBar bar;
  EXPECT_EQ(bar.Low(), 0);
  EXPECT_EQ(bar.High(), 100);
  EXPECT_EQ(bar.Pos(), 0);
  EXPECT_EQ(bar.value(), 0);
  EXPECT_FALSE(bar.isTextVisible());
}

TEST(WindowProgress, RangeStepPositionAndTheirLimits) {
  struct Case {
    const char* name;
    int32_t range;  // SetProgressRange(n)
    int32_t pos;    // then SetProgressPos(pos)
    int32_t shownPos;
  };
  const Case cases[] = {
      {"ordinary", 1023, 512, 512},
      {"beyond the end stays at the end", 10, 1023, 10},
      {"below the start stays at the start", 10, -5, 0},
      {"empty range", 0, 7, 0},
  };
  CProgressBar bar;
  IProgressCtrl* saved = g_progressCtrl;
  g_progressCtrl = &bar;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetProgressRange(c.range);
    EXPECT_EQ(bar.High(), c.range);
    EXPECT_EQ(bar.Step(), 1);
    EXPECT_EQ(bar.Pos(), 0);
    SetProgressPos(c.pos);
    EXPECT_EQ(bar.Pos(), c.shownPos);
    // Never the toolkit's busy indicator, and the bar's value always within its range.
    EXPECT_LT(bar.minimum(), bar.maximum());
    EXPECT_GE(bar.value(), bar.minimum());
    EXPECT_LE(bar.value(), bar.maximum());
    if (c.range > 0 && c.shownPos == c.range) {
      EXPECT_EQ(bar.value(), bar.maximum());
    }
    if (c.range == 0) {
      EXPECT_EQ(bar.value(), bar.minimum());  // an empty bar
    }
  }
  g_progressCtrl = saved;
}

TEST(WindowProgress, WorkerCallsAreAppliedOnTheWidgetsThread) {
  CProgressBar bar;
  std::atomic<bool> done{false};
  std::vector<int> seen;
  QObject::connect(&bar, &QProgressBar::valueChanged, [&](int v) {
    EXPECT_EQ(QThread::currentThread(), bar.thread());
    seen.push_back(v);
  });
  std::thread worker([&] {
    SetProgressRangeOn(&bar, 50);
    for (int i = 1; i <= 50; ++i) SetProgressPosOn(&bar, i);
    done = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
  worker.join();
  ASSERT_EQ(seen.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[static_cast<size_t>(i)], i + 1);
}

}  // namespace

}  // namespace fennwick
