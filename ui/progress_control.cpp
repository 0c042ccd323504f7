#include "ui/progress_control.h"

#include <algorithm>

#include "ui/gui_thread.h"

namespace fennwick {

CProgressBar::CProgressBar(QWidget* parent) : QProgressBar(parent) {
  setTextVisible(false);
  Show();
}

void CProgressBar::Show() {
  if (high_ <= low_) {
    // QProgressBar turns a range of 0 to 0 into its busy indicator; a 0-to-1 range at 0
    // draws the empty bar that an empty range means here.
    setRange(0, 1);
    setValue(0);
    return;
  }
  setRange(low_, high_);
  setValue(pos_);
}

void CProgressBar::SetRange32(int32_t low, int32_t high) {
  RunOnOwnerThread(this, [=, this] {
    low_ = low;
    high_ = high;
    pos_ = high_ < low_ ? low_ : std::clamp(pos_, low_, high_);
    Show();
  });
}

void CProgressBar::SetStep(int32_t step) {
  RunOnOwnerThread(this, [=, this] { step_ = step; });
}

void CProgressBar::SetPos(int32_t pos) {
  RunOnOwnerThread(this, [=, this] {
    // QProgressBar ignores a value outside its range; ours keeps it at the nearer end.
    pos_ = high_ < low_ ? low_ : std::clamp(pos, low_, high_);
    Show();
  });
}

void CProgressBar::Invalidate() {
  RunOnOwnerThread(this, [this] { update(); });
}

}  // namespace fennwick
