#pragma once
// The person's screen for a command's boards: one board's log as it comes, with its bar; or
// several boards' logs, each line tagged with its port, their progress lines and at the end a
// closing table.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/console/output_text.h"
#include "link/run_events.h"

namespace fennwick {

struct ScreenOptions {
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
  bool progressBar = false;  // err is a terminal that takes control sequences
  bool sameScreen = false;   // out is that terminal too
  bool quiet = false;        // the log text goes nowhere
  OutputStyle style;
  uint32_t bytesPerStep = 0;  // a progress step's bytes, for the rate that the bar shows
};

// A board's line of the closing table.
struct BoardRow {
  std::string port;
  std::string mcuVersion;  // the device's text, as the log shows it
  std::string result;
  double seconds = 0;
};

class BoardsScreen {
 public:
  virtual ~BoardsScreen() = default;
  // The board's run: its log text, its progress and its end.
  virtual IRunObserver& Observer(size_t board) = 0;
  // A message for the person, kept clear of the log and the progress.
  virtual void Say(size_t board, const std::string& text) = 0;
  // The board's job starts; then it sends the image: its progress steps are blocks from here on.
  virtual void Running(size_t board) = 0;
  virtual void Programming(size_t board) = 0;
  // Every board's run is over.
  virtual void Close(const std::vector<BoardRow>& rows) = 0;
};

// The screen for the boards on `ports`, when there are several; else for the one board.
std::unique_ptr<BoardsScreen> OpenBoardsScreen(const ScreenOptions& options, const std::vector<std::string>& ports);

}  // namespace fennwick
