#pragma once
// Pieces that the terminal's single-board and several-board displays share.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>

#include "platform/console.h"

namespace fennwick {

// A log control that streams its text out: it keeps only the length the trim rule counts
// (what was appended less what was cleared) and hands each appended text to Append.
class StreamLogEdit : public ILogEdit {
 public:
  int32_t GetWindowTextLength() override { return length_; }
  void SetSel(int32_t start, int32_t end) override {
    auto clamp = [this](int32_t v) { return v < 0 || v > length_ ? length_ : v; };
    selStart_ = std::min(clamp(start), clamp(end));
    selEnd_ = std::max(clamp(start), clamp(end));
  }
  void ScrollCaret() override {}
  void Clear() override {
    length_ -= selEnd_ - selStart_;
    selEnd_ = selStart_;
  }
  void ReplaceSel(const std::u16string& text) override {
    length_ += static_cast<int32_t>(text.size()) - (selEnd_ - selStart_);
    selStart_ = selEnd_ = selStart_ + static_cast<int32_t>(text.size());
    Append(text);
  }

 protected:
  virtual void Append(const std::u16string& text) = 0;

 private:
  int32_t length_ = 0;
  int32_t selStart_ = 0;
  int32_t selEnd_ = 0;
};

// "[#####.....] done/total" for step `pos` of 0..high, then the byte rate when
// `bytesPerStep` is given, and the time left.
std::string ProgressText(int32_t pos, int32_t high, std::chrono::steady_clock::time_point started, int width,
                         uint32_t bytesPerStep);

}  // namespace fennwick
