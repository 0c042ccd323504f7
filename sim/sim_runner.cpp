#include "sim/sim_runner.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/atomic_file.h"
#include "sim/text_escape.h"

namespace fennwick::sim {
namespace {

// While no peer has the terminal open the master reports a hang-up at once; look again
// this often rather than spin.
constexpr auto kNoPeerPoll = std::chrono::milliseconds(20);
// A full terminal buffer is retried after this long.
constexpr auto kWriteRetry = std::chrono::milliseconds(10);
// Upper bound on any one wait, so nothing depends on a single wake-up.
constexpr auto kMaxWait = std::chrono::milliseconds(500);
constexpr std::size_t kTraceBytesPerLine = 32;
// Received bytes taken from the terminal ahead of their arrival time, at most.
constexpr std::size_t kRxBacklog = 4096;
// How long a hang-up fault waits for the peer to take the last reply.
constexpr auto kHangUpGrace = std::chrono::milliseconds(1000);

}  // namespace

SimRunner::SimRunner(const SimOptions& options, int masterFd, int stopFd)
    : options_(options),
      master_(masterFd),
      stopFd_(stopFd),
      model_(options.mcu),
      rxLine_(options.baud),
      txLine_(options.baud),
      start_(Clock::now()) {}

int SimRunner::Run() {
  for (;;) {
    if (stop_) {
      if (options_.verbose) Log("stopping on signal", Clock::now());
      return ExitCode();
    }
    const TimePoint now = Clock::now();
    FeedArrived(now);
    SendDue(now);
    if (HangupDue(now)) {
      if (options_.verbose) Log("hanging up the line and exiting", now);
      return ExitCode();
    }
    if (peer_ == Peer::Leaving && rx_.empty()) {
      PeerGone();
      if (options_.once) return ExitCode();
    }
    if (!WaitForEvents(now)) return 1;
  }
}

bool SimRunner::HangupDue(TimePoint now) {
  if (!hangupAt_ || !tx_.empty() || now < *hangupAt_) return false;
  // Closing the master discards whatever the peer has not read yet, so the last reply must
  // be taken first: the peer answering shows it was, else a grace period has to do.
  if (!replyOutAt_) replyOutAt_ = now;
  return peer_ != Peer::Present || lastReadAt_ > *replyOutAt_ ||
         now >= *replyOutAt_ + kHangUpGrace;
}

void SimRunner::FeedArrived(TimePoint now) {
  // Each byte reaches the model as soon as it is read, stamped with the time it will have
  // crossed the line: the model keeps the line's timing by the stamps, so nothing wakes for
  // every byte. The bytes stay queued until that time, so that a peer that writes faster
  // than the line is still held back, and a leaving peer's last bytes still cross.
  for (; rxFed_ < rx_.size(); ++rxFed_) {
    const TimedByte& in = rx_[rxFed_];
    if (options_.verbose) TraceBytes(rxTrace_, &in.byte, 1, in.at);
    CarryOut(model_.Feed(in.byte, in.at));
  }
  // Bytes of one burst share a trace line; it ends when the burst does.
  FlushTrace(rxTrace_);
  while (!rx_.empty() && rx_.front().at <= now) {
    rx_.pop_front();
    --rxFed_;
  }
}

void SimRunner::CarryOut(std::vector<Action> actions) {
  for (auto& action : actions) {
    if (auto* reply = std::get_if<SendReply>(&action)) {
      // A peer that has gone cannot hear it; the next one must not get it either.
      if (peer_ != Peer::Present) continue;
      // An adapter's latency holds the bytes after they crossed the line; the line itself
      // is free for the next ones meanwhile.
      for (const std::uint8_t b : reply->bytes) tx_.push_back({b, txLine_.Next(reply->due) + options_.replyLatency});
    } else if (auto* note = std::get_if<LogNote>(&action)) {
      if (note->warning || options_.verbose) Log(note->text, Clock::now());
    } else if (auto* end = std::get_if<SessionEnd>(&action)) {
      Log(end->summary, Clock::now());
      if (!options_.dumpPath.empty()) {
        const std::string problem = WriteFileAtomically(options_.dumpPath, model_.Flash());
        if (problem.empty()) {
          if (options_.verbose) Log("flash written to " + options_.dumpPath, Clock::now());
        } else {
          failed_ = true;
          Log("error: flash dump failed: " + problem, Clock::now());
        }
      }
    } else if (auto* hangup = std::get_if<HangUp>(&action)) {
      hangupAt_ = hangup->due;
    }
  }
}

void SimRunner::SendDue(TimePoint now) {
  if (tx_.empty() || now < txRetryAt_) return;
  std::uint8_t buf[512];
  std::size_t count = 0;
  while (count < tx_.size() && count < sizeof buf && tx_[count].at <= now) {
    buf[count] = tx_[count].byte;
    ++count;
  }
  if (count == 0) return;
  const ssize_t n = ::write(master_, buf, count);
  if (n < 0) {
    if (errno == EAGAIN || errno == EINTR) {
      txRetryAt_ = now + kWriteRetry;
    } else {
      // The peer is gone; its hang-up is noticed on the next poll.
      tx_.clear();
    }
    return;
  }
  const auto sent = static_cast<std::size_t>(n);
  if (options_.verbose) TraceBytes(txTrace_, buf, sent, now);
  tx_.erase(tx_.begin(), tx_.begin() + static_cast<std::ptrdiff_t>(sent));
  if (tx_.empty()) FlushTrace(txTrace_);
  if (sent < count) txRetryAt_ = now + kWriteRetry;
}

bool SimRunner::WaitForEvents(TimePoint now) {
  TimePoint deadline = now + kMaxWait;
  // Queued bytes need a wake-up only when the line must be free of them: for a leaving
  // peer, all of them; for a full backlog, half.
  if (!rx_.empty() && peer_ == Peer::Leaving) deadline = std::min(deadline, rx_.back().at);
  if (rx_.size() >= kRxBacklog) deadline = std::min(deadline, rx_[rx_.size() / 2].at);
  if (!tx_.empty()) deadline = std::min(deadline, std::max(tx_.front().at, txRetryAt_));
  if (hangupAt_ && tx_.empty()) {
    deadline = std::min(deadline, replyOutAt_ ? *replyOutAt_ + kHangUpGrace : *hangupAt_);
  }
  // While a leaving peer's last bytes are still crossing the line, take no new ones. A peer
  // that writes faster than the line carries is held back in the terminal's buffer, as a
  // real line would, instead of in our memory.
  const bool watchMaster = peer_ != Peer::Leaving && !masterIdle_ && rx_.size() < kRxBacklog;
  if (masterIdle_) deadline = std::min(deadline, now + kNoPeerPoll);
  masterIdle_ = false;

  pollfd fds[2] = {{stopFd_, POLLIN, 0}, {watchMaster ? master_ : -1, POLLIN, 0}};
  const auto wait = std::max(deadline - now, Clock::duration::zero());
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(wait);
  const timespec timeout{static_cast<time_t>(secs.count()),
                         static_cast<long>(std::chrono::nanoseconds(wait - secs).count())};
  const int ready = ::ppoll(fds, 2, &timeout, nullptr);
  if (ready < 0) {
    if (errno == EINTR) return true;
    Log(std::string("error: poll: ") + std::strerror(errno), Clock::now());
    return false;
  }
  if (fds[0].revents != 0) {
    char drain[64];
    while (::read(stopFd_, drain, sizeof drain) > 0) {
    }
    stop_ = true;
  }
  if (watchMaster) {
    if (fds[1].revents & POLLNVAL) {
      Log("error: the terminal master is not open", Clock::now());
      return false;
    }
    HandleMaster(fds[1].revents);
  }
  return true;
}

void SimRunner::HandleMaster(short revents) {
  bool hungUp = (revents & (POLLHUP | POLLERR)) != 0;
  bool gotData = false;
  if (revents & POLLIN) {
    std::uint8_t buf[4096];
    while (rx_.size() < kRxBacklog) {
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, kRxBacklog - rx_.size()));
      if (n > 0) {
        gotData = true;
        const TimePoint readAt = Clock::now();
        lastReadAt_ = readAt;
        for (ssize_t i = 0; i < n; ++i) rx_.push_back({buf[i], rxLine_.Next(readAt)});
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // With no slave open the master reads EIO: that is "no peer", not a failure.
      if (n == 0 || errno != EAGAIN) hungUp = true;
      break;
    }
    // A peer that has closed may have left more than the backlog takes: its hang-up counts
    // only once all it sent has been read.
    if (rx_.size() >= kRxBacklog) hungUp = false;
  }
  if (gotData || !hungUp) {
    if (peer_ == Peer::Absent) PeerArrived();
  }
  if (hungUp) {
    if (peer_ == Peer::Present) {
      PeerLeaving();
    } else {
      masterIdle_ = true;
    }
  }
}

void SimRunner::PeerArrived() {
  peer_ = Peer::Present;
  if (options_.verbose) Log("peer connected", Clock::now());
}

void SimRunner::PeerLeaving() {
  peer_ = Peer::Leaving;
  tx_.clear();
  if (options_.verbose) Log("peer hung up", Clock::now());
}

void SimRunner::PeerGone() {
  CarryOut(model_.PeerLost());
  tx_.clear();
  // Nothing of the old conversation may reach the next peer: its replies still queued go.
  // The old peer's own bytes have all been read by now, so what waits to be read is the
  // next peer's, written as soon as it opened the line, and it is kept.
  ::tcflush(master_, TCOFLUSH);
  rxLine_ = LineTimer(options_.baud);
  txLine_ = LineTimer(options_.baud);
  txRetryAt_ = {};
  peer_ = Peer::Absent;
  if (options_.verbose) Log("waiting for a peer (query mode)", Clock::now());
}

void SimRunner::TraceBytes(Trace& trace, const std::uint8_t* data, std::size_t size, TimePoint at) {
  for (std::size_t i = 0; i < size; ++i) {
    if (trace.count == 0) trace.at = at;
    trace.text += ' ' + HexBytes(data + i, 1);
    if (++trace.count == kTraceBytesPerLine) FlushTrace(trace);
  }
}

void SimRunner::FlushTrace(Trace& trace) {
  if (trace.count == 0) return;
  const std::string line = trace.direction + trace.text;
  trace.text.clear();
  trace.count = 0;
  Log(line, trace.at);
}

void SimRunner::Log(const std::string& text, TimePoint at) {
  FlushTrace(rxTrace_);
  FlushTrace(txTrace_);
  const double ms = std::chrono::duration<double, std::milli>(at - start_).count();
  std::fprintf(stderr, "fennwick-mcu-sim [%10.3f ms] %s\n", ms, text.c_str());
  std::fflush(stderr);
}

}  // namespace fennwick::sim
