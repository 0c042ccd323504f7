#pragma once
// One board on one port: its serial device, port object, console and buffers, shared with
// no other board.
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "link/mcu_port.h"
#include "platform/posix_serial.h"

// The device's pause as the original platform had it: a plain sleep, deaf to arriving bytes.
class PlainPollSerial final : public ISerialDevice {
 public:
  explicit PlainPollSerial(ISerialDevice& inner) : inner_(inner) {}
  int32_t Open(const std::u16string& name) override { return inner_.Open(name); }
  bool SetupComm(int32_t h, uint32_t rx, uint32_t tx) override { return inner_.SetupComm(h, rx, tx); }
  bool Purge(int32_t h, uint32_t flags) override { return inner_.Purge(h, flags); }
  bool SetCommMask(int32_t h, uint32_t mask) override { return inner_.SetCommMask(h, mask); }
  bool GetCommState(int32_t h, Dcb& dcb) override { return inner_.GetCommState(h, dcb); }
  bool SetCommState(int32_t h, const Dcb& dcb) override { return inner_.SetCommState(h, dcb); }
  bool SetCommTimeouts(int32_t h, const CommTimeouts& t) override { return inner_.SetCommTimeouts(h, t); }
  void ClearCommError(int32_t h) override { inner_.ClearCommError(h); }
  bool Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) override { return inner_.Read(h, buf, max, got); }
  void WaitReadable(int32_t, uint32_t maxMs) override { DefaultClock().Sleep(maxMs); }
  uint32_t Write(int32_t h, const uint8_t* data, uint32_t len) override { return inner_.Write(h, data, len); }
  void Close(int32_t h) override { inner_.Close(h); }
  OpenError LastOpenError() const override { return inner_.LastOpenError(); }
  std::string LastOpenPath() const override { return inner_.LastOpenPath(); }
  LineState State(int32_t h) const override { return inner_.State(h); }

 private:
  ISerialDevice& inner_;
};

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

 private:
  ILogEdit& inner_;
  std::string text_;
};

// Where a board's messages for the person (not the log) go: stderr, with the port's name
// when several boards run.
using SayFn = std::function<void(const std::string&)>;

struct Board {
  Board(const std::optional<std::string>& portPath, bool plainPoll, ILogEdit& log, IProgressCtrl& progress,
        SayFn say);
  void Say(const std::string& text) const { say_(text); }
  // The MCU's version as the log shows it (after "Version: "), without its line end.
  std::string VersionText() const;
  const std::string& log() const { return capture.text(); }

  PosixSerialDevice serial;
  PlainPollSerial plain;
  CaptureEdit capture;
  CMcuPort port;
  char version[kVersionSize] = {};
  uint8_t packet[kPacketBufferSize] = {};

 private:
  SayFn say_;
};
