// Serves the model on the pty master: receive and transmit line time, peers coming and
// going, the byte trace, and the actions the model asks for.
#pragma once

#include <deque>
#include <optional>
#include <string>

#include "sim/line_timer.hpp"
#include "sim/mcu_model.hpp"
#include "sim/sim_options.hpp"

namespace fennwick::sim {

class SimRunner {
 public:
  // `stop_fd` becomes readable when the simulator should stop.
  SimRunner(const SimOptions& options, int master_fd, int stop_fd);

  // Returns the exit code: 0 after a stop request, the end of the --once peer or a hang-up
  // fault; 1 on a fatal error or if a dump could not be written.
  int run();

 private:
  enum class Peer { Absent, Present, Leaving };
  struct TimedByte {
    std::uint8_t byte;
    TimePoint at;
  };
  // Bytes gathered for one --verbose trace line.
  struct Trace {
    const char* direction;
    std::string text{};
    std::size_t count = 0;
    TimePoint at{};
  };

  bool hangupDue(TimePoint now);
  void feedArrived(TimePoint now);
  void carryOut(std::vector<Action> actions);
  void sendDue(TimePoint now);
  bool waitForEvents(TimePoint now);
  void handleMaster(short revents);
  void peerArrived();
  void peerLeaving();
  void peerGone();
  void log(const std::string& text, TimePoint at);
  void trace(Trace& trace, const std::uint8_t* data, std::size_t size, TimePoint at);
  void flushTrace(Trace& trace);
  int exitCode() const { return failed_ ? 1 : 0; }

  const SimOptions& options_;
  int master_;
  int stop_fd_;
  McuModel model_;
  LineTimer rx_line_;
  LineTimer tx_line_;
  std::deque<TimedByte> rx_;
  std::deque<TimedByte> tx_;
  TimePoint tx_retry_at_{};
  std::optional<TimePoint> hangup_at_;
  std::optional<TimePoint> reply_out_at_;
  TimePoint last_read_at_{};
  Peer peer_ = Peer::Absent;
  bool master_idle_ = false;
  bool stop_ = false;
  bool failed_ = false;
  TimePoint start_;
  Trace rx_trace_{"rx"};
  Trace tx_trace_{"tx"};
};

}  // namespace fennwick::sim
