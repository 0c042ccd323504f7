#include "cli/console/terminal_console.h"

#include <algorithm>
#include <utility>


namespace fennwick {

namespace {

constexpr size_t kMaxBar = 30;
// The log text beside the bar takes at most this share of the line.
constexpr size_t kMaxPartial = 40;

}  // namespace

TerminalConsole::TerminalConsole(std::FILE* out, std::FILE* err, const Options& options)
    : out_(out), err_(err), options_(options), text_(options.style) {
  options_.sameScreen = options_.showBar && options_.sameScreen;
  if (options_.showBar) WatchTerminalSize();
}

TerminalConsole::~TerminalConsole() { End(); }

void TerminalConsole::Write(const std::string& text) {
  if (text.empty()) return;
  std::fwrite(text.data(), 1, text.size(), out_);
  std::fflush(out_);
  lineOpen_ = text.back() != '\n';
}

void TerminalConsole::LogText(std::string_view text) {
  if (options_.quiet) return;
  const std::string shown = text_.Put(text);
  if (!options_.sameScreen) {
    Write(shown);
    return;
  }
  // With a bar on the same screen, whole lines go above it and the unfinished line is
  // shown beside it, so neither overwrites the other.
  partial_ += shown;
  const size_t cut = partial_.find_last_of(options_.style.raw ? "\r\n" : "\n");
  if (cut != std::string::npos) {
    ClearBar();
    Write(partial_.substr(0, cut + 1));
    partial_.erase(0, cut + 1);
  }
  DrawBar();
}

void TerminalConsole::ProgressRange(int32_t high) {
  high_ = high;
  pos_ = -1;
  rate_.Reset();
}

void TerminalConsole::ProgressPos(int32_t pos) {
  const auto now = std::chrono::steady_clock::now();
  rate_.Add(pos, now);
  pos_ = pos;
  if (!options_.showBar) return;
  // Redraw at most ten times a second, and always for the last step.
  if (pos < high_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;
  DrawBar();
}

size_t TerminalConsole::Columns() {
  const unsigned resizes = TerminalResizes();
  if (columns_ == 0 || resizes != resizes_) {
    resizes_ = resizes;
    columns_ = TerminalColumns(fileno(err_));
  }
  return columns_;
}

void TerminalConsole::ClearBar() {
  if (!barShown_) return;
  std::fputs("\r\033[K", err_);
  std::fflush(err_);
  barShown_ = false;
}

void TerminalConsole::DrawBar() {
  // One column short of the width: a line that fills the last column wraps on some
  // terminals, and the next redraw would start a new row.
  const size_t width = Columns() > 1 ? Columns() - 1 : 1;
  const bool progress = pos_ >= 0 && high_ > 0;
  auto progressIn = [&](size_t columns) {
    return progress ? ProgressText(pos_, high_, rate_.PerSecond(), columns, kMaxBar, options_.bytesPerStep)
                    : std::string();
  };
  std::string bar = progressIn(width);
  std::string shown;
  if (!partial_.empty()) {
    // Raw text beside the bar is shown as text would show it: it never steers the terminal.
    std::string safe = partial_;
    if (options_.style.raw) {
      OutputText asText({false, options_.style.utf8});
      safe = asText.Put(partial_);
    }
    std::replace(safe.begin(), safe.end(), '\t', ' ');
    // The bar keeps its size; the log text takes what is left, or a quarter of a narrow line.
    const size_t left = bar.empty() ? width : width - std::min(width, TextColumns(bar) + 2);
    shown = TextTail(safe, std::min(kMaxPartial, std::max(left, width / 4)));
    if (!bar.empty() && TextColumns(shown) + 2 + TextColumns(bar) > width) {
      bar = progressIn(width - std::min(width, TextColumns(shown) + 2));
    }
  }
  std::string line = std::string("\r\033[K").append(shown);
  if (!bar.empty()) line.append(shown.empty() ? "" : "  ").append(bar);
  std::fputs(line.c_str(), err_);
  std::fflush(err_);
  barShown_ = true;
}

void TerminalConsole::Finish() {
  if (options_.showBar) {
    if (barShown_ && !options_.sameScreen) {
      std::fputs("\n", err_);
      std::fflush(err_);
      barShown_ = false;
    }
    ClearBar();
    if (!partial_.empty()) {
      Write(partial_);
      partial_.clear();
    }
  }
  if (options_.messagesBetween && lineOpen_) {
    text_.End();  // this line end stands for a CR held back
    Write("\n");
  }
}

void TerminalConsole::End() {
  Finish();
  if (!options_.quiet) Write(text_.End());
}

}  // namespace fennwick
