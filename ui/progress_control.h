#pragma once
// The progress bar: a range, a step and a position, shown by a QProgressBar. An empty
// range (0 to 0) shows an empty bar, not the toolkit's busy indicator, and a position
// outside the range is kept at the range's nearer end.
#include <QProgressBar>

#include "ui/control_interfaces.h"

namespace fennwick {

class CProgressBar final : public QProgressBar, public IProgressCtrl {
  Q_OBJECT

 public:
  explicit CProgressBar(QWidget* parent = nullptr);

  // IProgressCtrl: callable from any thread, applied on the widget's own thread.
  void SetRange32(int32_t low, int32_t high) override;
  void SetStep(int32_t step) override;
  void SetPos(int32_t pos) override;
  void Invalidate() override;

  // Widget thread only.
  int32_t Low() const { return low_; }
  int32_t High() const { return high_; }
  int32_t Step() const { return step_; }
  int32_t Pos() const { return pos_; }

 private:
  void Show();

  int32_t low_ = 0;
  int32_t high_ = 100;
  int32_t step_ = 10;
  int32_t pos_ = 0;
};

}  // namespace fennwick
