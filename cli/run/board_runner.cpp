#include "cli/run/board_runner.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/console/multi_display.h"
#include "cli/console/terminal_console.h"
#include "cli/records/board_records.h"
#include "cli/records/interrupt.h"
#include "cli/run/line_trace.h"

namespace fennwick {

namespace {

bool SameFile(std::FILE* a, std::FILE* b) {
  struct stat sa {}, sb {};
  return ::fstat(fileno(a), &sa) == 0 && ::fstat(fileno(b), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

JobResult RunJob(const BoardJob& job, Board& board) {
  // A signal before the board's turn: nothing has been sent.
  if (StopRequested()) return Interrupted(board, "before the run; nothing was sent");
  return job(board);
}

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
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

// How the boards' log, progress and messages reach the person.
struct Screen {
  std::FILE* out = nullptr;
  std::FILE* err = nullptr;
  bool progressBar = false;
  bool sameScreen = false;
  bool quiet = false;
  OutputStyle style;
};

// What every board of the command is run with, worked out once from the command's context.
struct BoardRuns {
  const BoardJob& job;
  Screen screen;
  SerialWrap wrapSerial;  // with the line trace around it under -v
  const BoardRecords& records;
  const std::function<std::thread(std::function<void()>)>& startThread;
};

// The board's share of its record; the records add the command's.
RunRecord BoardShare(const Board& board, const std::string& port, const JobResult& result, double secs) {
  RunRecord run;
  run.port = port;
  run.mcuVersion = board.VersionText();
  run.mcuDescription = board.description;
  while (!run.mcuDescription.empty() && (run.mcuDescription.back() == '\n' || run.mcuDescription.back() == '\r')) {
    run.mcuDescription.pop_back();
  }
  run.verdict = VerdictWord(board);
  run.exitCode = result.code();
  run.result = result.text;
  run.programmed = result.programmed;
  run.blocksAccepted = result.blocksAccepted;
  run.timeouts = result.timeouts;
  run.blocksRefused = result.blocksRefused;
  run.warnings = result.warnings;
  run.seconds = secs;
  run.log = board.log();
  return run;
}

// A board's record while it runs: with a log file, kept ready for a stop at once with every
// new log text, as if interrupted at once.
BoardRecord BeginRecord(const BoardRecords& records, size_t index, Board& board, std::function<std::string()> port) {
  BoardRecord record = records.Begin(index);
  board.capture.onChange = record.KeepForStop([&board, port = std::move(port)] {
    return BoardShare(board, port(), {JobEnd::Interrupted, "interrupted at once"}, 0);
  });
  return record;
}

// The board's run is over: its record is kept.
RunRecord FinishRecord(BoardRecord& record, Board& board, const std::string& port, const JobResult& result,
                       double secs) {
  board.capture.onChange = nullptr;
  return record.Finish(BoardShare(board, port, result, secs));
}

RunRecord RunOne(const BoardRuns& plan, const std::optional<std::string>& port) {
  const Screen& screen = plan.screen;
  TerminalConsole::Options options;
  options.showBar = screen.progressBar;
  options.sameScreen = screen.sameScreen;
  // The log's lines have no line end of their own at times ("MCU: ", the verdicts); where
  // messages show among them (a terminal, or 2>&1), they start on a line of their own.
  options.messagesBetween = ::isatty(fileno(screen.out)) != 0 || SameFile(screen.out, screen.err);
  options.quiet = screen.quiet;
  options.style = screen.style;
  options.bytesPerStep = kPacketSize;
  TerminalConsole console(screen.out, screen.err, options);
  Board board(
      port, plan.wrapSerial, console,
      [&](const std::string& text) {
        console.Finish();
        std::fprintf(screen.err, "fennwick-cli: %s\n", text.c_str());
        std::fflush(screen.err);
      });
  BoardRecord record = BeginRecord(plan.records, 0, board, [&board, port] {
    const std::string& identified = board.port.PortPath();
    return identified.empty() ? port.value_or("") : identified;
  });
  const auto start = std::chrono::steady_clock::now();
  JobResult result = RunJob(plan.job, board);
  board.Ended(result.end, result.text);
  return FinishRecord(record, board, board.port.PortPath(), result, Since(start));
}

// Each port in its own thread with its own board; nothing of one run is shared with another.
std::vector<RunRecord> RunMany(const BoardRuns& plan, const std::vector<std::string>& ports) {
  const Screen& screen = plan.screen;
  const size_t n = ports.size();
  MultiDisplay display(screen.out, screen.err, screen.progressBar, ports, screen.style, screen.quiet);
  std::vector<std::unique_ptr<Board>> boards;
  for (size_t i = 0; i < n; ++i) {
    boards.push_back(std::make_unique<Board>(
        ports[i], plan.wrapSerial, display.Observer(i),
        [&display, i](const std::string& text) { display.Say(i, text); }));
    boards.back()->onProgramming = [&display, i] { display.Programming(i); };
  }
  std::vector<RunRecord> runs(n);
  std::vector<BoardRecord> records;
  records.reserve(n);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i) {
    records.push_back(BeginRecord(plan.records, i, *boards[i], [&ports, i] { return ports[i]; }));
    const auto start = std::chrono::steady_clock::now();
    auto run = [&, i, start] {
      display.SetStatus(i, "running");
      const JobResult result = RunJob(plan.job, *boards[i]);
      const double secs = Since(start);
      boards[i]->Ended(result.end, result.text);
      runs[i] = FinishRecord(records[i], *boards[i], ports[i], result, secs);
    };
    try {
      threads.push_back(plan.startThread ? plan.startThread(run) : std::thread(run));
    } catch (const std::system_error& e) {
      // The other boards go on; this one failed before it began.
      boards[i]->Say(std::string("cannot start a thread for this board: ") + e.code().message());
      const JobResult result{JobEnd::ThreadFailed, "thread not started"};
      boards[i]->Ended(result.end, result.text);
      runs[i] = FinishRecord(records[i], *boards[i], ports[i], result, 0);
    }
  }
  for (auto& t : threads) t.join();
  display.Finish();

  // The MCU's versions are its text: shown as the log is, but on one line and cut to a width
  // that keeps the table's columns on a terminal (the log and the records keep them whole).
  std::vector<std::string> versions;
  for (const RunRecord& run : runs) versions.push_back(TableCell(run.mcuVersion, screen.style));
  size_t portWidth = 4, versionWidth = 11;
  for (size_t i = 0; i < runs.size(); ++i) {
    portWidth = std::max(portWidth, runs[i].port.size());
    versionWidth = std::max(versionWidth, screen.style.raw ? versions[i].size() : TextColumns(versions[i]));
  }
  const int pw = static_cast<int>(portWidth);
  std::fprintf(screen.out, "\n%-*s  %-*s  %-22s  %8s\n", pw, "port", static_cast<int>(versionWidth), "MCU version",
               "result", "time");
  for (size_t i = 0; i < runs.size(); ++i) {
    // Padded by columns, not bytes: a UTF-8 character takes one column and several bytes.
    const size_t shown = screen.style.raw ? versions[i].size() : TextColumns(versions[i]);
    const std::string version = versions[i] + std::string(versionWidth - shown, ' ');
    std::fprintf(screen.out, "%-*s  %s  %-22s  %7.1fs\n", pw, runs[i].port.c_str(), version.c_str(),
                 runs[i].result.c_str(), runs[i].seconds);
  }
  std::fflush(screen.out);
  return runs;
}

}  // namespace

// With --json the log text goes nowhere (the document carries it) and stdout gets the
// document alone.
int RunOnBoards(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  const BoardRecords records(setup.command, setup.info,
                             {ctx.log.get(), ctx.syslog ? &ctx.logSockets : nullptr, ctx.err, ctx.json ? ctx.out : nullptr},
                             ctx.units);
  BoardRuns plan{job, {ctx.out, ctx.err, ctx.progressBar, ctx.sameScreen, ctx.quiet, ctx.style},
                 ctx.verbose ? TracedSerial(ctx.wrapSerial, ctx.err) : ctx.wrapSerial, records, ctx.startThread};
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(nullptr, &std::fclose);
  if (ctx.json) {
    sink.reset(std::fopen("/dev/null", "w"));
    if (!sink) {
      std::fprintf(ctx.err, "fennwick-cli: cannot open /dev/null: %s\n", std::strerror(errno));
      return kExitFailure;
    }
    plan.screen.out = sink.get();
    plan.screen.sameScreen = false;
  }
  std::vector<RunRecord> runs;
  if (ctx.ports.size() > 1) {
    runs = RunMany(plan, ctx.ports);
  } else {
    runs.push_back(RunOne(plan, ctx.FirstPort()));
  }
  return records.End(runs);
}

}  // namespace fennwick
