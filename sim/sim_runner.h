#pragma once
// Serves the model on the pty master: receive and transmit line time, peers coming and
// going, the byte trace, and the actions the model asks for.
#include <deque>
#include <optional>
#include <string>

#include "sim/line_timer.h"
#include "sim/mcu_model.h"
#include "sim/sim_options.h"

namespace fennwick::sim {

class SimRunner {
 public:
  // `stopFd` becomes readable when the simulator should stop.
  SimRunner(const SimOptions& options, int masterFd, int stopFd);

  // Returns the exit code: 0 after a stop request, the end of the --once peer or a hang-up
  // fault; 1 on a fatal error or if a dump could not be written.
  int Run();

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

  bool HangupDue(TimePoint now);
  void FeedArrived(TimePoint now);
  void CarryOut(std::vector<Action> actions);
  void SendDue(TimePoint now);
  bool WaitForEvents(TimePoint now);
  void HandleMaster(short revents);
  void PeerArrived();
  void PeerLeaving();
  void PeerGone();
  void Log(const std::string& text, TimePoint at);
  void TraceBytes(Trace& trace, const std::uint8_t* data, std::size_t size, TimePoint at);
  void FlushTrace(Trace& trace);
  int ExitCode() const { return failed_ ? 1 : 0; }

  const SimOptions& options_;
  int master_;
  int stopFd_;
  McuModel model_;
  LineTimer rxLine_;
  LineTimer txLine_;
  std::deque<TimedByte> rx_;
  std::size_t rxFed_ = 0;  // the first bytes of rx_ that the model has had
  std::deque<TimedByte> tx_;
  TimePoint txRetryAt_{};
  std::optional<TimePoint> hangupAt_;
  std::optional<TimePoint> replyOutAt_;
  TimePoint lastReadAt_{};
  Peer peer_ = Peer::Absent;
  bool masterIdle_ = false;
  bool stop_ = false;
  bool failed_ = false;
  TimePoint start_;
  Trace rxTrace_{"rx"};
  Trace txTrace_{"tx"};
};

}  // namespace fennwick::sim
