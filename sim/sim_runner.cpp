#include "sim/sim_runner.hpp"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/atomic_file.hpp"
#include "sim/text_escape.hpp"

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

SimRunner::SimRunner(const SimOptions& options, int master_fd, int stop_fd)
    : options_(options),
      master_(master_fd),
      stop_fd_(stop_fd),
      model_(options.mcu),
      rx_line_(options.baud),
      tx_line_(options.baud),
      start_(Clock::now()) {}

int SimRunner::run() {
  for (;;) {
    if (stop_) {
      if (options_.verbose) log("stopping on signal", Clock::now());
      return exitCode();
    }
    const TimePoint now = Clock::now();
    feedArrived(now);
    sendDue(now);
    if (hangupDue(now)) {
      if (options_.verbose) log("hanging up the line and exiting", now);
      return exitCode();
    }
    if (peer_ == Peer::Leaving && rx_.empty()) {
      peerGone();
      if (options_.once) return exitCode();
    }
    if (!waitForEvents(now)) return 1;
  }
}

bool SimRunner::hangupDue(TimePoint now) {
  if (!hangup_at_ || !tx_.empty() || now < *hangup_at_) return false;
  // Closing the master discards whatever the peer has not read yet, so the last reply must
  // be taken first: the peer answering shows it was, else a grace period has to do.
  if (!reply_out_at_) reply_out_at_ = now;
  return peer_ != Peer::Present || last_read_at_ > *reply_out_at_ ||
         now >= *reply_out_at_ + kHangUpGrace;
}

void SimRunner::feedArrived(TimePoint now) {
  while (!rx_.empty() && rx_.front().at <= now) {
    const TimedByte in = rx_.front();
    rx_.pop_front();
    if (options_.verbose) trace(rx_trace_, &in.byte, 1, in.at);
    carryOut(model_.feed(in.byte, in.at));
  }
  // Bytes of one burst share a trace line; it ends when the burst does.
  if (rx_.empty()) flushTrace(rx_trace_);
}

void SimRunner::carryOut(std::vector<Action> actions) {
  for (auto& action : actions) {
    if (auto* reply = std::get_if<SendReply>(&action)) {
      // A peer that has gone cannot hear it; the next one must not get it either.
      if (peer_ != Peer::Present) continue;
      for (const std::uint8_t b : reply->bytes) tx_.push_back({b, tx_line_.next(reply->due)});
    } else if (auto* note = std::get_if<LogNote>(&action)) {
      if (note->warning || options_.verbose) log(note->text, Clock::now());
    } else if (auto* end = std::get_if<SessionEnd>(&action)) {
      log(end->summary, Clock::now());
      if (!options_.dump_path.empty()) {
        const std::string problem = writeFileAtomically(options_.dump_path, model_.flash());
        if (problem.empty()) {
          if (options_.verbose) log("flash written to " + options_.dump_path, Clock::now());
        } else {
          failed_ = true;
          log("error: flash dump failed: " + problem, Clock::now());
        }
      }
    } else if (auto* hangup = std::get_if<HangUp>(&action)) {
      hangup_at_ = hangup->due;
    }
  }
}

void SimRunner::sendDue(TimePoint now) {
  if (tx_.empty() || now < tx_retry_at_) return;
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
      tx_retry_at_ = now + kWriteRetry;
    } else {
      // The peer is gone; its hang-up is noticed on the next poll.
      tx_.clear();
    }
    return;
  }
  const auto sent = static_cast<std::size_t>(n);
  if (options_.verbose) trace(tx_trace_, buf, sent, now);
  tx_.erase(tx_.begin(), tx_.begin() + static_cast<std::ptrdiff_t>(sent));
  if (tx_.empty()) flushTrace(tx_trace_);
  if (sent < count) tx_retry_at_ = now + kWriteRetry;
}

bool SimRunner::waitForEvents(TimePoint now) {
  TimePoint deadline = now + kMaxWait;
  if (!rx_.empty()) deadline = std::min(deadline, rx_.front().at);
  if (!tx_.empty()) deadline = std::min(deadline, std::max(tx_.front().at, tx_retry_at_));
  if (hangup_at_ && tx_.empty()) {
    deadline = std::min(deadline, reply_out_at_ ? *reply_out_at_ + kHangUpGrace : *hangup_at_);
  }
  // While a leaving peer's last bytes are still crossing the line, take no new ones. A peer
  // that writes faster than the line carries is held back in the terminal's buffer, as a
  // real line would, instead of in our memory.
  const bool watch_master = peer_ != Peer::Leaving && !master_idle_ && rx_.size() < kRxBacklog;
  if (master_idle_) deadline = std::min(deadline, now + kNoPeerPoll);
  master_idle_ = false;

  pollfd fds[2] = {{stop_fd_, POLLIN, 0}, {watch_master ? master_ : -1, POLLIN, 0}};
  const auto wait = std::max(deadline - now, Clock::duration::zero());
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(wait);
  const timespec timeout{static_cast<time_t>(secs.count()),
                         static_cast<long>(std::chrono::nanoseconds(wait - secs).count())};
  const int ready = ::ppoll(fds, 2, &timeout, nullptr);
  if (ready < 0) {
    if (errno == EINTR) return true;
    log(std::string("error: poll: ") + std::strerror(errno), Clock::now());
    return false;
  }
  if (fds[0].revents != 0) {
    char drain[64];
    while (::read(stop_fd_, drain, sizeof drain) > 0) {
    }
    stop_ = true;
  }
  if (watch_master) {
    if (fds[1].revents & POLLNVAL) {
      log("error: the terminal master is not open", Clock::now());
      return false;
    }
    handleMaster(fds[1].revents);
  }
  return true;
}

void SimRunner::handleMaster(short revents) {
  bool hung_up = (revents & (POLLHUP | POLLERR)) != 0;
  bool got_data = false;
  if (revents & POLLIN) {
    std::uint8_t buf[4096];
    while (rx_.size() < kRxBacklog) {
      const ssize_t n = ::read(master_, buf, std::min(sizeof buf, kRxBacklog - rx_.size()));
      if (n > 0) {
        got_data = true;
        const TimePoint read_at = Clock::now();
        last_read_at_ = read_at;
        for (ssize_t i = 0; i < n; ++i) rx_.push_back({buf[i], rx_line_.next(read_at)});
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      // With no slave open the master reads EIO: that is "no peer", not a failure.
      if (n == 0 || errno != EAGAIN) hung_up = true;
      break;
    }
    // A peer that has closed may have left more than the backlog takes: its hang-up counts
    // only once all it sent has been read.
    if (rx_.size() >= kRxBacklog) hung_up = false;
  }
  if (got_data || !hung_up) {
    if (peer_ == Peer::Absent) peerArrived();
  }
  if (hung_up) {
    if (peer_ == Peer::Present) {
      peerLeaving();
    } else {
      master_idle_ = true;
    }
  }
}

void SimRunner::peerArrived() {
  peer_ = Peer::Present;
  if (options_.verbose) log("peer connected", Clock::now());
}

void SimRunner::peerLeaving() {
  peer_ = Peer::Leaving;
  tx_.clear();
  if (options_.verbose) log("peer hung up", Clock::now());
}

void SimRunner::peerGone() {
  carryOut(model_.peerLost());
  tx_.clear();
  // Nothing of the old conversation may reach the next peer: its replies still queued go.
  // The old peer's own bytes have all been read by now, so what waits to be read is the
  // next peer's, written as soon as it opened the line, and it is kept.
  ::tcflush(master_, TCOFLUSH);
  rx_line_ = LineTimer(options_.baud);
  tx_line_ = LineTimer(options_.baud);
  tx_retry_at_ = {};
  peer_ = Peer::Absent;
  if (options_.verbose) log("waiting for a peer (query mode)", Clock::now());
}

void SimRunner::trace(Trace& trace, const std::uint8_t* data, std::size_t size, TimePoint at) {
  for (std::size_t i = 0; i < size; ++i) {
    if (trace.count == 0) trace.at = at;
    trace.text += ' ' + hexBytes(data + i, 1);
    if (++trace.count == kTraceBytesPerLine) flushTrace(trace);
  }
}

void SimRunner::flushTrace(Trace& trace) {
  if (trace.count == 0) return;
  const std::string line = trace.direction + trace.text;
  trace.text.clear();
  trace.count = 0;
  log(line, trace.at);
}

void SimRunner::log(const std::string& text, TimePoint at) {
  flushTrace(rx_trace_);
  flushTrace(tx_trace_);
  const double ms = std::chrono::duration<double, std::milli>(at - start_).count();
  std::fprintf(stderr, "fennwick-mcu-sim [%10.3f ms] %s\n", ms, text.c_str());
  std::fflush(stderr);
}

}  // namespace fennwick::sim
