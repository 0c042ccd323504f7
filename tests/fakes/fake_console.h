#pragma once
// Recorders for the two controls: an edit control's text model (selection, clear,
// replace, lengths in UTF-16 units) and a progress control's calls.
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/text.h"

namespace fennwick {

class MemoryLogEdit final : public ILogEdit {
 public:
  int32_t GetWindowTextLength() override { return static_cast<int32_t>(text_.size()); }
  void SetSel(int32_t start, int32_t end) override {
    selStart_ = Clamp(start);
    selEnd_ = Clamp(end);
    if (selEnd_ < selStart_) std::swap(selStart_, selEnd_);
  }
  void ScrollCaret() override {}
  void Clear() override {
    text_.erase(static_cast<size_t>(selStart_), static_cast<size_t>(selEnd_ - selStart_));
    selEnd_ = selStart_;
  }
  void ReplaceSel(const std::u16string& text) override {
    text_.replace(static_cast<size_t>(selStart_), static_cast<size_t>(selEnd_ - selStart_), text);
    selStart_ = selEnd_ = selStart_ + static_cast<int32_t>(text.size());
    ++appends;
  }
  std::u16string& text() { return text_; }
  std::string Text8() const { return Utf16ToCp1252(text_); }
  int appends = 0;

 private:
  int32_t Clamp(int32_t v) const {
    if (v < 0 || v > static_cast<int32_t>(text_.size())) return static_cast<int32_t>(text_.size());
    return v;
  }
  std::u16string text_;
  int32_t selStart_ = 0;
  int32_t selEnd_ = 0;
};

class RecordingProgress final : public IProgressCtrl {
 public:
  void SetRange32(int32_t low, int32_t high) override {
    calls.push_back("range " + std::to_string(low) + " " + std::to_string(high));
    rangeHigh = high;
  }
  void SetStep(int32_t step) override { calls.push_back("step " + std::to_string(step)); }
  void SetPos(int32_t pos) override {
    calls.push_back("pos " + std::to_string(pos));
    positions.push_back(pos);
  }
  void Invalidate() override { calls.push_back("invalidate"); }
  std::vector<std::string> calls;
  std::vector<int32_t> positions;
  int32_t rangeHigh = 100;
};

}  // namespace fennwick
