#include "cli/console/boards_screen.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "cli/console/multi_display.h"
#include "cli/console/terminal_console.h"

namespace fennwick {

namespace {

bool SameFile(std::FILE* a, std::FILE* b) {
  struct stat sa {}, sb {};
  return ::fstat(fileno(a), &sa) == 0 && ::fstat(fileno(b), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The widest MCU version that the closing table shows whole.
constexpr size_t kVersionColumns = 40;

// Device text for one cell of the closing table: a tab or a line end inside it escaped, as
// the records escape them, and a text wider than kVersionColumns cut, ending in "...".
std::string TableCell(const std::string& deviceText, const OutputStyle& style) {
  OutputText shown(style);
  std::string cell;
  for (const char c : shown.Put(deviceText)) {
    cell += c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
  }
  // Raw, each byte of the device's code page is one column.
  const size_t columns = style.raw ? cell.size() : TextColumns(cell);
  if (columns <= kVersionColumns) return cell;
  return (style.raw ? cell.substr(0, kVersionColumns - 3) : TextHead(cell, kVersionColumns - 3)) + "...";
}

class OneBoardScreen final : public BoardsScreen {
 public:
  explicit OneBoardScreen(const ScreenOptions& screen) : err_(screen.err), console_(screen.out, screen.err, Options(screen)) {}
  IRunObserver& Observer(size_t) override { return console_; }
  void Say(size_t, const std::string& text) override {
    console_.Finish();
    std::fprintf(err_, "fennwick-cli: %s\n", text.c_str());
    std::fflush(err_);
  }
  void Running(size_t) override {}
  void Programming(size_t) override {}
  void Close(const std::vector<BoardRow>&) override {}

 private:
  static TerminalConsole::Options Options(const ScreenOptions& screen) {
    TerminalConsole::Options options;
    options.showBar = screen.progressBar;
    options.sameScreen = screen.sameScreen;
    // The log's lines have no line end of their own at times ("MCU: ", the verdicts); where
    // messages show among them (a terminal, or 2>&1), they start on a line of their own.
    options.messagesBetween = ::isatty(fileno(screen.out)) != 0 || SameFile(screen.out, screen.err);
    options.quiet = screen.quiet;
    options.style = screen.style;
    options.bytesPerStep = screen.bytesPerStep;
    return options;
  }

  std::FILE* err_;
  TerminalConsole console_;
};

class ManyBoardsScreen final : public BoardsScreen {
 public:
  ManyBoardsScreen(const ScreenOptions& screen, const std::vector<std::string>& ports)
      : out_(screen.out), style_(screen.style),
        display_(screen.out, screen.err, screen.progressBar, ports, screen.style, screen.quiet) {}
  IRunObserver& Observer(size_t board) override { return display_.Observer(board); }
  void Say(size_t board, const std::string& text) override { display_.Say(board, text); }
  void Running(size_t board) override { display_.SetStatus(board, "running"); }
  void Programming(size_t board) override { display_.Programming(board); }
  void Close(const std::vector<BoardRow>& rows) override;

 private:
  std::FILE* out_;
  OutputStyle style_;
  MultiDisplay display_;
};

void ManyBoardsScreen::Close(const std::vector<BoardRow>& rows) {
  display_.Finish();
  // The MCU's versions are its text: shown as the log is, but on one line and cut to a width
  // that keeps the table's columns on a terminal (the log and the records keep them whole).
  std::vector<std::string> versions;
  for (const BoardRow& row : rows) versions.push_back(TableCell(row.mcuVersion, style_));
  size_t portWidth = 4, versionWidth = 11;
  for (size_t i = 0; i < rows.size(); ++i) {
    portWidth = std::max(portWidth, rows[i].port.size());
    versionWidth = std::max(versionWidth, style_.raw ? versions[i].size() : TextColumns(versions[i]));
  }
  const int pw = static_cast<int>(portWidth);
  std::fprintf(out_, "\n%-*s  %-*s  %-22s  %8s\n", pw, "port", static_cast<int>(versionWidth), "MCU version",
               "result", "time");
  for (size_t i = 0; i < rows.size(); ++i) {
    // Padded by columns, not bytes: a UTF-8 character takes one column and several bytes.
    const size_t shown = style_.raw ? versions[i].size() : TextColumns(versions[i]);
    const std::string version = versions[i] + std::string(versionWidth - shown, ' ');
    std::fprintf(out_, "%-*s  %s  %-22s  %7.1fs\n", pw, rows[i].port.c_str(), version.c_str(),
                 rows[i].result.c_str(), rows[i].seconds);
  }
  std::fflush(out_);
}

}  // namespace

std::unique_ptr<BoardsScreen> OpenBoardsScreen(const ScreenOptions& options, const std::vector<std::string>& ports) {
  if (ports.size() > 1) return std::make_unique<ManyBoardsScreen>(options, ports);
  return std::make_unique<OneBoardScreen>(options);
}

}  // namespace fennwick
