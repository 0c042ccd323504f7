#pragma once
// One board on one port: its serial device, port object, console and buffers, shared with
// no other board.
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "cli/run/context.h"
#include "link/mcu_port.h"
#include "platform/system.h"

namespace fennwick {

// Passes the log on and keeps a copy of its 8-bit text for the log file.
class CaptureEdit final : public ILogEdit {
 public:
  explicit CaptureEdit(ILogEdit& inner) : inner_(inner) {}
  int32_t GetWindowTextLength() override { return inner_.GetWindowTextLength(); }
  void SetSel(int32_t start, int32_t end) override { inner_.SetSel(start, end); }
  void ScrollCaret() override { inner_.ScrollCaret(); }
  void Clear() override { inner_.Clear(); }
  void ReplaceSel(const std::u16string& text) override;
  const std::string& text() const { return text_; }
  // Called after each new text, in the thread that logs it.
  std::function<void()> onChange;

 private:
  ILogEdit& inner_;
  std::string text_;
};

// Swallows log text and progress: for an examination that only judges.
class NullConsole final : public ILogEdit, public IProgressCtrl {
 public:
  int32_t GetWindowTextLength() override { return 0; }
  void SetSel(int32_t, int32_t) override {}
  void ScrollCaret() override {}
  void Clear() override {}
  void ReplaceSel(const std::u16string&) override {}
  void SetRange32(int32_t, int32_t) override {}
  void SetStep(int32_t) override {}
  void SetPos(int32_t) override {}
  void Invalidate() override {}
};

// Where a board's messages for the person (not the log) go: stderr, with the port's name
// when several boards run.
using SayFn = std::function<void(const std::string&)>;

struct Board {
  Board(const std::optional<std::string>& portPath, const SerialWrap& wrap, ILogEdit& log, IProgressCtrl& progress,
        SayFn say);
  void Say(const std::string& text) const { say_(text); }
  // The MCU's version as the log shows it (after "Version: "), without its line end.
  std::string VersionText() const;
  const std::string& log() const { return capture.text(); }
  // Quiet: the port's log and progress go nowhere until Quiet(false).
  void Quiet(bool quiet);

  SystemSerialDevice serial;
  std::unique_ptr<ISerialDevice> wrapped;  // between `port` and `serial`, when the command asked for it
  CaptureEdit capture;
  CMcuPort port;
  char version[kVersionSize] = {};
  std::string description;  // the MCU's reply to the description query, from its byte 3 on
  // Called when the programming run starts sending, for a display that shows the job.
  std::function<void()> onProgramming;
  uint8_t packet[kPacketBufferSize] = {};

 private:
  IProgressCtrl& progress_;
  NullConsole null_;
  SayFn say_;
};

}  // namespace fennwick
