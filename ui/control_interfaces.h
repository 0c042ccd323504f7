#pragma once
// The two controls through which the window's log console reaches the operator: Qt widgets
// in the window, models of them in the console's tests.
#include <cstdint>
#include <string>

namespace fennwick {

// A multi-line edit control. Lengths and positions count UTF-16 units, with a carriage
// return and a line feed one character each.
class ILogEdit {
 public:
  virtual ~ILogEdit() = default;
  virtual int32_t GetWindowTextLength() = 0;
  virtual void SetSel(int32_t start, int32_t end) = 0;
  virtual void ScrollCaret() = 0;
  virtual void Clear() = 0;  // deletes the selection
  virtual void ReplaceSel(const std::u16string& text) = 0;
};

class IProgressCtrl {
 public:
  virtual ~IProgressCtrl() = default;
  virtual void SetRange32(int32_t low, int32_t high) = 0;
  virtual void SetStep(int32_t step) = 0;
  virtual void SetPos(int32_t pos) = 0;
  virtual void Invalidate() = 0;
};

}  // namespace fennwick
