#pragma once
// One board on one port: its serial device, port object, console and buffers, shared with
// no other board.
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cli/run/context.h"
#include "link/mcu_port.h"
#include "platform/system.h"

namespace fennwick {

// Passes a board's run on to its display and keeps a copy of the log's 8-bit text for the
// records. Quiet, it passes nothing and keeps nothing.
class RunCapture final : public IRunObserver {
 public:
  explicit RunCapture(IRunObserver& display) : display_(display) {}
  void LogText(std::string_view text) override;
  void ProgressRange(int32_t high) override {
    if (!quiet) display_.ProgressRange(high);
  }
  void ProgressPos(int32_t pos) override {
    if (!quiet) display_.ProgressPos(pos);
  }
  void RunEnded(JobEnd end, std::string_view summary) override { display_.RunEnded(end, summary); }
  const std::string& text() const { return text_; }
  // Called after each new text, in the thread that logs it.
  std::function<void()> onChange;
  bool quiet = false;

 private:
  IRunObserver& display_;
  std::string text_;
};

// Where a board's messages for the person (not the log) go: stderr, with the port's name
// when several boards run.
using SayFn = std::function<void(const std::string&)>;

struct Board {
  Board(const std::optional<std::string>& portPath, const SerialWrap& wrap, IRunObserver& display, SayFn say);
  void Say(const std::string& text) const { say_(text); }
  // The version a file is judged against: the one given by hand, else what the port's
  // identification kept (as soon as its reply came).
  std::string_view McuVersion() const;
  // The MCU's version as the log shows it (after "Version: "), without its line end.
  std::string VersionText() const;
  const std::string& log() const { return capture.text(); }
  // Quiet: the port's log and progress go nowhere until Quiet(false).
  void Quiet(bool quiet) { capture.quiet = quiet; }
  // The job is over: the display shows how it ended.
  void Ended(JobEnd end, const std::string& summary) { capture.RunEnded(end, summary); }

  SystemSerialDevice serial;
  std::unique_ptr<ISerialDevice> wrapped;  // between `port` and `serial`, when the command asked for it
  RunCapture capture;
  CMcuPort port;
  // Offline: the version given by hand (McuVersionOfReply), in place of the port's.
  std::optional<std::string> givenVersion;
  std::string description;  // the MCU's reply to the description query, from its byte 3 on
  ExamineOutcome::Verdict verdict = ExamineOutcome::Verdict::NotRun;  // the last examination's
  // Called when the programming run starts sending, for a display that shows the job.
  std::function<void()> onProgramming;

 private:
  SayFn say_;
};

}  // namespace fennwick
