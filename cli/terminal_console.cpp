#include "cli/terminal_console.h"

#include <algorithm>
#include <utility>

#include "platform/text.h"

namespace fennwick {

TerminalConsole::TerminalConsole(std::FILE* out, std::FILE* err, bool showBar, bool sameScreen,
                                 uint32_t bytesPerStep)
    : out_(out), err_(err), bar_(showBar), sameScreen_(showBar && sameScreen), bytesPerStep_(bytesPerStep) {}

TerminalConsole::~TerminalConsole() { Finish(); }

void TerminalConsole::Append(const std::u16string& text) {
  const std::string bytes = Utf16ToCp1252(text);
  if (!sameScreen_) {
    std::fwrite(bytes.data(), 1, bytes.size(), out_);
    std::fflush(out_);
    return;
  }
  // With a bar on the same screen, whole lines go above it and the unfinished line is
  // shown beside it, so neither overwrites the other.
  partial_ += bytes;
  const size_t cut = partial_.find_last_of("\r\n");
  if (cut != std::string::npos) {
    ClearBar();
    std::fwrite(partial_.data(), 1, cut + 1, out_);
    std::fflush(out_);
    partial_.erase(0, cut + 1);
  }
  DrawBar();
}

void TerminalConsole::SetRange32(int32_t, int32_t high) {
  high_ = high;
  pos_ = -1;
  rangeJustSet_ = true;
}

void TerminalConsole::SetPos(int32_t pos) {
  // Setting a range puts the position to 0 too; that is no step of a job yet.
  if (std::exchange(rangeJustSet_, false) && pos == 0) return;
  if (pos_ < 0 && pos >= 0) started_ = std::chrono::steady_clock::now();
  pos_ = pos;
  if (!bar_) return;
  const auto now = std::chrono::steady_clock::now();
  // Redraw at most ten times a second, and always for the last step.
  if (pos < high_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  DrawBar();
}

void TerminalConsole::ClearBar() {
  if (!barShown_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  barShown_ = false;
}

void TerminalConsole::DrawBar() {
  std::string line = "\r\033[K";
  std::string shown = partial_;
  std::replace(shown.begin(), shown.end(), '\t', ' ');
  if (shown.size() > 40) shown = "..." + shown.substr(shown.size() - 37);
  line += shown;
  if (pos_ >= 0 && high_ > 0) {
    line += shown.empty() ? "" : "  ";
    line += ProgressText(pos_, high_, started_, 30, bytesPerStep_);
  }
  std::fputs(line.c_str(), err_);
  std::fflush(err_);
  barShown_ = true;
}

void TerminalConsole::Finish() {
  if (!bar_) return;
  if (barShown_ && !sameScreen_) {
    std::fputs("\n", err_);
    std::fflush(err_);
    barShown_ = false;
    return;
  }
  ClearBar();
  if (!partial_.empty()) {
    std::fwrite(partial_.data(), 1, partial_.size(), out_);
    std::fflush(out_);
    partial_.clear();
  }
}

}  // namespace fennwick
