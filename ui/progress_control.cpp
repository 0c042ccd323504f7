#include "ui/progress_control.h"

#include <algorithm>

#include "ui/gui_thread.h"

CProgressBar::CProgressBar(QWidget* parent) : QProgressBar(parent) {
  setTextVisible(false);
  Show();
}

void CProgressBar::Show() {
  if (m_high <= m_low) {
    // QProgressBar turns a range of 0 to 0 into its busy indicator; a 0-to-1 range at 0
    // draws the empty bar that an empty range means here.
    setRange(0, 1);
    setValue(0);
    return;
  }
  setRange(m_low, m_high);
  setValue(m_pos);
}

void CProgressBar::SetRange32(int32_t low, int32_t high) {
  RunOnOwnerThread(this, [=, this] {
    m_low = low;
    m_high = high;
    m_pos = m_high < m_low ? m_low : std::clamp(m_pos, m_low, m_high);
    Show();
  });
}

void CProgressBar::SetStep(int32_t step) {
  RunOnOwnerThread(this, [=, this] { m_step = step; });
}

void CProgressBar::SetPos(int32_t pos) {
  RunOnOwnerThread(this, [=, this] {
    // QProgressBar ignores a value outside its range; ours keeps it at the nearer end.
    m_pos = m_high < m_low ? m_low : std::clamp(pos, m_low, m_high);
    Show();
  });
}

void CProgressBar::Invalidate() {
  RunOnOwnerThread(this, [this] { update(); });
}
