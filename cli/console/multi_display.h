#pragma once
// Several boards' logs on one terminal: each complete log line goes to stdout with the
// port's name before it; on a terminal that takes control sequences, one progress line per
// port stays at the bottom, redrawn in place.
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/console/console_parts.h"
#include "cli/console/output_text.h"
#include "link/run_events.h"

namespace fennwick {

class MultiDisplay {
 public:
  // `bars`: draw the progress lines on `err`; `quiet`: the log text goes nowhere.
  MultiDisplay(std::FILE* out, std::FILE* err, bool bars, std::vector<std::string> labels, OutputStyle style = {},
               bool quiet = false);
  ~MultiDisplay();
  MultiDisplay(const MultiDisplay&) = delete;
  MultiDisplay& operator=(const MultiDisplay&) = delete;

  // The port's run: its log text, its progress, and its end as the port's status.
  IRunObserver& Observer(size_t port);
  void SetStatus(size_t port, const std::string& status);
  // The port's job now sends the image: its progress steps are blocks from here on.
  void Programming(size_t port);
  // Writes out unfinished lines and leaves the progress lines in place.
  void Finish();
  // A message for the person, kept clear of the progress lines.
  void Say(size_t port, const std::string& text);

 private:
  class PortConsole;
  struct PortState {
    explicit PortState(OutputStyle style) : text(style) {}
    OutputText text;
    std::string partial;
    std::string status = "starting";
    int32_t high = 100;
    int32_t pos = -1;
    bool programming = false;
    StepRate rate;
  };
  void Text(size_t port, std::string_view bytes);
  void SetRange(size_t port, int32_t high);
  void SetPos(size_t port, int32_t pos);
  void EmitLine(size_t port, const std::string& line);
  // "[label] ", before each of the port's lines.
  std::string Tag(size_t port) const;
  void ClearBars();
  void DrawBars();

  std::FILE* out_;
  std::FILE* err_;
  bool bars_;
  bool quiet_;
  std::vector<std::string> labels_;
  std::vector<PortState> ports_;
  std::vector<std::unique_ptr<PortConsole>> consoles_;
  std::mutex mu_;
  size_t shown_ = 0;  // progress lines on the screen
  size_t columns_ = 0;
  unsigned resizes_ = 0;
  std::chrono::steady_clock::time_point lastDraw_;
};

}  // namespace fennwick
