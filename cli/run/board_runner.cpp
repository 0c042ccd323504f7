#include "cli/run/board_runner.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "cli/console/boards_screen.h"
#include "cli/records/board_records.h"
#include "cli/run/line_trace.h"

namespace fennwick {

namespace {

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int RunOnBoards(const CliContext& ctx, const RunSetup& setup, const BoardJob& job) {
  // With --json the log text goes nowhere (the document carries it) and stdout gets the
  // document alone.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(nullptr, &std::fclose);
  if (ctx.json) {
    sink.reset(std::fopen("/dev/null", "w"));
    if (!sink) {
      std::fprintf(ctx.err, "fennwick-cli: cannot open /dev/null: %s\n", std::strerror(errno));
      return kExitFailure;
    }
  }
  // Several ports: each its own board, run in a thread of its own. One: the board runs in
  // this thread, on the first --port, else FENNWICK_PORT, else COM2:.
  const bool several = ctx.ports.size() > 1;
  std::vector<std::optional<std::string>> ports(ctx.ports.begin(), ctx.ports.end());
  if (!several) ports = {ctx.FirstPort()};
  const size_t n = ports.size();
  const SerialWrap wrap = ctx.verbose ? TracedSerial(ctx.wrapSerial, ctx.err) : ctx.wrapSerial;
  std::unique_ptr<BoardsScreen> screen =
      OpenBoardsScreen({sink ? sink.get() : ctx.out, ctx.err, ctx.progressBar, ctx.sameScreen && !ctx.json,
                        ctx.quiet, ctx.style, kPacketSize},
                       several ? ctx.ports : std::vector<std::string>());
  const BoardRecords records(setup.command, setup.info,
                             {ctx.log.get(), ctx.syslog ? &ctx.logSockets : nullptr, ctx.err, sink ? ctx.out : nullptr},
                             ctx.units);

  // Nothing of one board's run is shared with another's.
  std::vector<std::unique_ptr<Board>> boards;
  for (size_t i = 0; i < n; ++i) {
    boards.push_back(std::make_unique<Board>(ports[i], wrap, screen->Observer(i),
                                             [&screen, i](const std::string& text) { screen->Say(i, text); }));
    if (several) boards.back()->onProgramming = [&screen, i] { screen->Programming(i); };
  }
  // The port a board's record names: the one it was given among several; the one it opened,
  // else the one it was to open, when it is alone.
  auto recordPort = [&](size_t i) {
    const std::string& opened = boards[i]->port.PortPath();
    return several ? *ports[i] : opened.empty() ? ports[i].value_or("") : opened;
  };
  std::vector<RunRecord> runs(n);
  // Sized once: each board's thread holds on to its own.
  std::vector<std::optional<BoardRecord>> kept(n);
  // A board's record, with a log file kept ready for a stop at once with every new log text.
  auto end = [&](size_t i, const JobResult& result, double secs) {
    boards[i]->Ended(result.end, result.text);
    boards[i]->capture.onChange = nullptr;
    runs[i] = kept[i]->Finish(JobRecord(*boards[i], several ? *ports[i] : boards[i]->port.PortPath(), result, secs));
  };
  std::vector<std::thread> threads;
  for (size_t i = 0; i < n; ++i) {
    kept[i].emplace(records.Begin(i));
    Board& board = *boards[i];
    board.capture.onChange = kept[i]->KeepForStop([&board, &recordPort, i] {
      return JobRecord(board, recordPort(i), {JobEnd::Interrupted, "interrupted at once"}, 0);
    });
    const auto start = std::chrono::steady_clock::now();
    auto run = [&, i, start] {
      screen->Running(i);
      const JobResult result = RunJob(job, *boards[i]);
      end(i, result, Since(start));
    };
    if (!several) {
      run();
      continue;
    }
    try {
      threads.push_back(ctx.startThread ? ctx.startThread(run) : std::thread(run));
    } catch (const std::system_error& e) {
      // The other boards go on; this one failed before it began.
      board.Say(std::string("cannot start a thread for this board: ") + e.code().message());
      end(i, {JobEnd::ThreadFailed, "thread not started"}, 0);
    }
  }
  for (auto& t : threads) t.join();
  std::vector<BoardRow> rows;
  for (const RunRecord& run : runs) rows.push_back({run.port, run.mcuVersion, run.result, run.seconds});
  screen->Close(rows);
  // The boards and their screen are done with before the document goes out.
  kept.clear();
  boards.clear();
  screen.reset();
  return records.End(runs);
}

}  // namespace fennwick
