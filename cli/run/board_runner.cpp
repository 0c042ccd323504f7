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
#include "cli/records/interrupt.h"
#include "cli/records/log_file.h"
#include "cli/records/run_report.h"
#include "cli/records/system_log.h"
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

// Where each board's record is kept besides the JSON document, and where a record that could
// not be written is told.
struct RecordSinks {
  RunLogFile* log = nullptr;                 // --log-file
  const SystemLogSockets* syslog = nullptr;  // --syslog
  std::FILE* err = nullptr;
};

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
  const RunSetup& setup;
  const BoardJob& job;
  Screen screen;
  SerialWrap wrapSerial;  // with the line trace around it under -v
  RecordSinks sinks;
  const std::vector<std::string>& units;
  const std::function<std::thread(std::function<void()>)>& startThread;

  // --unit of the board at `index`; empty when none was given.
  const std::string& Unit(size_t index) const {
    static const std::string kNone;
    return index < units.size() ? units[index] : kNone;
  }
};

// One board's run as its record says it.
RunRecord MakeRecord(const RunSetup& setup, const std::string& unit, const std::string& port,
                     const std::string& started, const Board& board, const JobResult& result, double secs) {
  RunRecord run;
  run.command = setup.command;
  run.tool = std::string("fennwick-cli ") + ToolVersion();
  run.station = setup.info.station;
  if (setup.info.file != nullptr) {
    run.file = setup.info.file->path;
    run.imageCrc32 = Crc32Text(setup.info.file->crc32);
  }
  run.startedUtc = started;
  run.port = port;
  run.unit = unit;
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

// With a log file, a stop at once still leaves each running board's record: prepared now
// and kept up to date with every new log text.
std::unique_ptr<AtOnceRecord> ArmAtOnce(const RunLogFile* log, const RunSetup& setup, const std::string& unit,
                                        std::function<std::string()> port, const std::string& started, Board& board) {
  if (log == nullptr) return nullptr;
  auto record = std::make_unique<AtOnceRecord>(log->fd());
  AtOnceRecord* armed = record.get();
  board.capture.onChange = [&setup, unit, port = std::move(port), started, &board, armed] {
    const JobResult atOnce{JobEnd::Interrupted, "interrupted at once"};
    armed->Update(RecordBody(MakeRecord(setup, unit, port(), started, board, atOnce, 0)));
  };
  board.capture.onChange();
  return record;
}

// Gathers one board's run into its record, and keeps it where the line keeps its records. A
// record that could not be written turns a success into kExitLogFile, since a production line
// relies on it.
RunRecord Finish(const RecordSinks& sinks, const RunSetup& setup, const std::string& unit, const std::string& port,
                 const std::string& started, Board& board, const JobResult& result, double secs,
                 AtOnceRecord* atOnce) {
  RunRecord run = MakeRecord(setup, unit, port, started, board, result, secs);
  board.capture.onChange = nullptr;
  auto failed = [&](const std::string& what, const std::string& whyNot, const char* result) {
    std::fprintf(sinks.err, "fennwick-cli: cannot write %s: %s\n", what.c_str(), whyNot.c_str());
    std::fflush(sinks.err);
    if (run.exitCode == kExitOk) {
      run.exitCode = kExitLogFile;
      run.result = result;
    }
  };
  if (sinks.log != nullptr) {
    std::string whyNot;
    if (!sinks.log->Append(run, whyNot)) failed("the log file " + sinks.log->path(), whyNot, "log file not written");
  }
  if (atOnce != nullptr) atOnce->Disarm();
  if (sinks.syslog != nullptr) {
    std::string whyNot;
    if (!SendToSystemLog(*sinks.syslog, setup.info, run, whyNot)) {
      failed("to the system log", whyNot, "system log not written");
    }
  }
  return run;
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
  const std::string started = UtcNow();
  const auto start = std::chrono::steady_clock::now();
  const auto atOnce = ArmAtOnce(
      plan.sinks.log, plan.setup, plan.Unit(0),
      [&board, port] {
        const std::string& identified = board.port.PortPath();
        return identified.empty() ? port.value_or("") : identified;
      },
      started, board);
  JobResult result = RunJob(plan.job, board);
  board.Ended(result.end, result.text);
  return Finish(plan.sinks, plan.setup, plan.Unit(0), board.port.PortPath(), started, board, result,
                Since(start), atOnce.get());
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
  std::vector<std::unique_ptr<AtOnceRecord>> atOnce(n);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i) {
    const std::string started = UtcNow();
    const auto start = std::chrono::steady_clock::now();
    atOnce[i] = ArmAtOnce(plan.sinks.log, plan.setup, plan.Unit(i), [&ports, i] { return ports[i]; }, started,
                          *boards[i]);
    auto run = [&, i, started, start] {
      display.SetStatus(i, "running");
      const JobResult result = RunJob(plan.job, *boards[i]);
      const double secs = Since(start);
      boards[i]->Ended(result.end, result.text);
      runs[i] = Finish(plan.sinks, plan.setup, plan.Unit(i), ports[i], started, *boards[i], result, secs,
                       atOnce[i].get());
    };
    try {
      threads.push_back(plan.startThread ? plan.startThread(run) : std::thread(run));
    } catch (const std::system_error& e) {
      // The other boards go on; this one failed before it began.
      boards[i]->Say(std::string("cannot start a thread for this board: ") + e.code().message());
      const JobResult result{JobEnd::ThreadFailed, "thread not started"};
      boards[i]->Ended(result.end, result.text);
      runs[i] = Finish(plan.sinks, plan.setup, plan.Unit(i), ports[i], started, *boards[i], result, 0,
                       atOnce[i].get());
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
  BoardRuns plan{setup, job, {ctx.out, ctx.err, ctx.progressBar, ctx.sameScreen, ctx.quiet, ctx.style},
                 ctx.verbose ? TracedSerial(ctx.wrapSerial, ctx.err) : ctx.wrapSerial,
                 {ctx.log.get(), ctx.syslog ? &ctx.logSockets : nullptr, ctx.err}, ctx.units, ctx.startThread};
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
  std::vector<int> codes;
  for (const RunRecord& run : runs) codes.push_back(run.exitCode);
  const int code = CombinedExitCode(codes);
  return ctx.json ? WriteJsonDocument(ctx.out, ctx.err, JsonDocument(setup.info, runs, code), code) : code;
}

}  // namespace fennwick
