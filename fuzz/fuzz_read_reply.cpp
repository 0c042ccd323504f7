// ReadReply over a scripted line in virtual time. The fuzzer's bytes decide the reply's
// chunks and the pauses between them, the terminator, the silence allowed, whether chunks
// are logged, where the tick counter starts (across its wrap) and whether a read fails.
// The rules checked: every read asks for exactly the room left and never reaches index
// 1,023, which stays NUL; the call ends at the first chunk whose last byte is the
// terminator and returns 1 with that byte last and a NUL behind it; otherwise it returns
// 0, after a silence just over the time-out with one time-out line, or at once and
// silently on a failed read.
#include <cstring>

#include "fakes/fake_clock.h"
#include "fakes/fake_console.h"
#include "fakes/fake_serial.h"
#include "fuzz_support.h"
#include "link/mcu_port.h"

namespace fennwick {

namespace {

constexpr uint32_t kPollMs = 100;

// Passes everything to the scripted device and watches the reads.
class WatchedSerial final : public ForwardingSerialDevice {
 public:
  WatchedSerial(FakeSerial& inner, FakeClock& clock) : ForwardingSerialDevice(inner), inner_(inner), clock_(clock) {}
  CMcuPort* port = nullptr;
  int64_t failAtRead = -1;  // the read (counted over all calls) that fails
  int64_t reads = 0;
  uint32_t held = 0;        // bytes handed out in this call
  bool failed = false;
  uint64_t lastBytesAt = 0;
  std::vector<uint8_t> stream;                 // bytes handed out in this call
  std::vector<std::vector<uint8_t>> chunks;    // as handed out
  void StartCall() {
    held = 0;
    failed = false;
    lastBytesAt = clock_.Now();
    stream.clear();
    chunks.clear();
  }

  bool Read(int32_t h, uint8_t* buf, uint32_t max, uint32_t& got) override {
    const uint8_t* reply = reinterpret_cast<const uint8_t*>(port->ReplyBuffer());
    FUZZ_CHECK(buf == reply + held);
    FUZZ_CHECK(max == kReplySize - 1 - held);
    if (reads++ == failAtRead) {
      got = 0;
      failed = true;
      return false;
    }
    const bool ok = inner_.Read(h, buf, max, got);
    FUZZ_CHECK(ok && got <= max);
    if (got > 0) {
      chunks.emplace_back(buf, buf + got);
      stream.insert(stream.end(), buf, buf + got);
      held += got;
      lastBytesAt = clock_.Now();
    }
    return ok;
  }

  void WaitReadable(int32_t h, uint32_t maxMs) override {
    FUZZ_CHECK(maxMs <= kPollMs);
    inner_.WaitReadable(h, maxMs);
  }

 private:
  FakeSerial& inner_;
  FakeClock& clock_;
};

}  // namespace

int FuzzReadReply(const uint8_t* data, size_t size) {
  ByteScript in(data, size);
  // Near the wrap of the 32-bit tick counter, or an ordinary start.
  const uint32_t startTick =
      in.Bool() ? 0xFFFFFFFFu - in.Range<uint32_t>(0, 400000) : 1000;
  FakeClock clock(startTick);
  FakeSerial fake(clock);
  WatchedSerial serial(fake, clock);
  RecordingRun log;
  CMcuPort port(serial, clock);
  port.SetObserver(&log);
  serial.port = &port;
  FUZZ_CHECK(port.OpenPort(u"COM2:"));
  // What earlier replies left behind: a reply that filled the buffer.
  const uint8_t earlier = in.Byte();
  fake.Deliver(std::string(kReplySize - 1, static_cast<char>(earlier)));
  serial.StartCall();
  FUZZ_CHECK(port.ReadReply(0, 0, earlier) == 1);
  serial.reads = 0;
  if (in.Bool()) serial.failAtRead = in.Range<int64_t>(0, 64);

  const int calls = in.Range(1, 3);
  for (int call = 0; call < calls && in.remaining() > 0; ++call) {
    uint32_t timeoutMs;
    switch (in.Range(0, 3)) {
      case 0: timeoutMs = 5000; break;
      case 1: timeoutMs = 120000; break;
      case 2: timeoutMs = in.Range<uint32_t>(0, 300); break;
      default: timeoutMs = in.Range<uint32_t>(0, 130000); break;
    }
    const int logChunks = in.Bool() ? in.Range(1, 255) : 0;
    int terminator;
    switch (in.Range(0, 2)) {
      case 0: terminator = '.'; break;
      case 1: terminator = '\n'; break;
      default: terminator = in.Byte(); break;
    }
    // The line's script for this call: chunks at increasing times.
    uint64_t at = 0;
    const int chunkCount = in.Range(0, 24);
    for (int c = 0; c < chunkCount; ++c) {
      at += in.Bool() ? in.Range<uint64_t>(0, 250)
                             : in.Range<uint64_t>(0, timeoutMs + 400);
      const std::string bytes = in.String(400);
      if (!bytes.empty()) fake.Deliver(bytes, at);
    }

    serial.StartCall();
    const size_t logBefore = log.texts.size();
    const int result = port.ReadReply(timeoutMs, logChunks, terminator);
    const uint8_t* reply = reinterpret_cast<const uint8_t*>(port.ReplyBuffer());

    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK(reply[kReplySize - 1] == 0);
    FUZZ_CHECK(serial.held <= kReplySize - 1);
    FUZZ_CHECK(serial.held == 0 || std::memcmp(reply, serial.stream.data(), serial.held) == 0);
    // Every chunk but the last ended in another byte; the last one decides.
    for (size_t i = 0; i + 1 < serial.chunks.size(); ++i) FUZZ_CHECK(serial.chunks[i].back() != terminator);
    const bool lastIsTerminator = serial.held > 0 && reply[serial.held - 1] == terminator;
    const size_t logged = log.texts.size() - logBefore;
    const size_t chunkLines = logChunks != 0 ? serial.chunks.size() : 0;
    if (result == 1) {
      FUZZ_CHECK(lastIsTerminator && !serial.failed);
      FUZZ_CHECK(reply[serial.held] == 0);
      FUZZ_CHECK(logged == chunkLines);
    } else if (serial.failed) {
      FUZZ_CHECK(logged == chunkLines);  // no line of its own
    } else {
      FUZZ_CHECK(!lastIsTerminator);
      FUZZ_CHECK(logged == chunkLines + 1 && log.texts.back() == "Response time out\r\n");
      const uint64_t silence = clock.Now() - serial.lastBytesAt;
      FUZZ_CHECK(silence > timeoutMs && silence <= uint64_t{timeoutMs} + kPollMs);
    }
  }
  return 0;
}

FENNWICK_FUZZ_ENTRY(FuzzReadReply)

}  // namespace fennwick
