#include "cli/console/multi_display.h"

#include <algorithm>
#include <utility>


namespace fennwick {

class MultiDisplay::PortConsole final : public IRunObserver {
 public:
  PortConsole(MultiDisplay& display, size_t port) : display_(display), port_(port) {}
  void LogText(std::string_view text) override { display_.Text(port_, text); }
  void ProgressRange(int32_t high) override { display_.SetRange(port_, high); }
  void ProgressPos(int32_t pos) override { display_.SetPos(port_, pos); }
  void RunEnded(JobEnd, std::string_view summary) override { display_.SetStatus(port_, std::string(summary)); }

 private:
  MultiDisplay& display_;
  size_t port_;
};

namespace {

constexpr size_t kMaxBar = 24;

}  // namespace

MultiDisplay::MultiDisplay(std::FILE* out, std::FILE* err, bool bars, std::vector<std::string> labels,
                           OutputStyle style, bool quiet)
    : out_(out), err_(err), bars_(bars), quiet_(quiet), labels_(std::move(labels)) {
  ports_.reserve(labels_.size());
  for (size_t i = 0; i < labels_.size(); ++i) {
    ports_.emplace_back(style);
    consoles_.push_back(std::make_unique<PortConsole>(*this, i));
  }
  if (bars_) WatchTerminalSize();
}

MultiDisplay::~MultiDisplay() { Finish(); }

IRunObserver& MultiDisplay::Observer(size_t port) { return *consoles_[port]; }

std::string MultiDisplay::Tag(size_t port) const { return "[" + labels_[port] + "] "; }

void MultiDisplay::EmitLine(size_t port, const std::string& line) {
  const std::string prefix = Tag(port);
  std::fwrite(prefix.data(), 1, prefix.size(), out_);
  std::fwrite(line.data(), 1, line.size(), out_);
}

void MultiDisplay::Text(size_t port, std::string_view bytes) {
  if (quiet_) return;
  std::lock_guard lock(mu_);
  PortState& st = ports_[port];
  st.partial += st.text.Put(bytes);
  // A line ends at its line feed; a lone carriage return ends one too (the device's
  // own texts use CR LF).
  size_t start = 0;
  bool wrote = false;
  for (size_t i = 0; i < st.partial.size(); ++i) {
    const char c = st.partial[i];
    const bool crlf = c == '\r' && i + 1 < st.partial.size() && st.partial[i + 1] == '\n';
    if (crlf) continue;
    if (c == '\n' || (c == '\r' && i + 1 < st.partial.size())) {
      if (!wrote) ClearBars();
      EmitLine(port, st.partial.substr(start, i + 1 - start));
      start = i + 1;
      wrote = true;
    }
  }
  st.partial.erase(0, start);
  if (wrote) {
    std::fflush(out_);
    DrawBars();
  }
}

void MultiDisplay::SetRange(size_t port, int32_t high) {
  std::lock_guard lock(mu_);
  ports_[port].high = high;
  ports_[port].pos = -1;
  ports_[port].rate.Reset();
}

void MultiDisplay::SetPos(size_t port, int32_t pos) {
  // Without progress lines a position is shown nowhere; every block of every board comes
  // here, and would otherwise take the display's lock and the clock for nothing.
  if (!bars_) return;
  std::lock_guard lock(mu_);
  PortState& st = ports_[port];
  const auto now = std::chrono::steady_clock::now();
  st.rate.Add(pos, now);
  st.pos = pos;
  if (st.programming) st.status = "programming";
  if (now - lastDraw_ < std::chrono::milliseconds(100) && pos < st.high) return;
  lastDraw_ = now;
  ClearBars();
  DrawBars();
}

void MultiDisplay::Programming(size_t port) {
  std::lock_guard lock(mu_);
  ports_[port].programming = true;
}

void MultiDisplay::SetStatus(size_t port, const std::string& status) {
  std::lock_guard lock(mu_);
  ports_[port].status = status;
  ClearBars();
  DrawBars();
}

void MultiDisplay::Say(size_t port, const std::string& text) {
  std::lock_guard lock(mu_);
  ClearBars();
  std::fprintf(err_, "fennwick-cli: [%s] %s\n", labels_[port].c_str(), text.c_str());
  DrawBars();
}

void MultiDisplay::ClearBars() {
  if (!bars_ || shown_ == 0) return;
  // Up to the first progress line, then clear to the end of the screen.
  std::fprintf(err_, "\033[%zuF\033[J", shown_);
  std::fflush(err_);
  shown_ = 0;
}

void MultiDisplay::DrawBars() {
  if (!bars_) {
    std::fflush(err_);
    return;
  }
  if (columns_ == 0 || TerminalResizes() != resizes_) {
    resizes_ = TerminalResizes();
    columns_ = TerminalColumns(fileno(err_));
  }
  // Each progress line stays one column short of the width, so that it never wraps and
  // the cursor goes back up exactly one row per port.
  const size_t width = columns_ > 1 ? columns_ - 1 : 1;
  for (size_t i = 0; i < ports_.size(); ++i) {
    const PortState& st = ports_[i];
    std::string line = Tag(i) + st.status;
    const size_t used = TextColumns(line) + 1;
    if (st.pos >= 0 && st.high > 0 && used < width) {
      const std::string progress = ProgressText(st.pos, st.high, st.rate.PerSecond(), width - used, kMaxBar, 0);
      if (!progress.empty()) line.append(" ").append(progress);
    }
    std::fprintf(err_, "%s\033[K\n", TextHead(line, width).c_str());
  }
  std::fflush(err_);
  shown_ = ports_.size();
}

void MultiDisplay::Finish() {
  std::lock_guard lock(mu_);
  bool wrote = false;
  for (size_t i = 0; i < ports_.size(); ++i) {
    if (ports_[i].partial.empty()) continue;
    if (!wrote) ClearBars();
    const std::string end = ports_[i].text.End();
    EmitLine(i, ports_[i].partial + (end.empty() ? "\n" : end));
    ports_[i].partial.clear();
    wrote = true;
  }
  std::fflush(out_);
  if (wrote) DrawBars();
}

}  // namespace fennwick
