#pragma once
// Command line of fennwick-mcu-sim.
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sim/mcu_model.h"

namespace fennwick::sim {

struct SimOptions {
  McuConfig mcu;
  unsigned baud = 19200;
  Millis replyLatency{0};  // every reply reaches the host this much later
  bool verbose = false;
  bool once = false;
  std::string linkPath;  // empty: no link
  std::string dumpPath;  // empty: no dump
  std::string stm8Image;  // set: run this image in the STM8 simulator instead of the model
};

struct ParsedOptions {
  std::optional<SimOptions> options;  // set when the simulator should run
  int exitCode = 0;                  // otherwise exit with this (0 after --help, 2 on error)
};

// Help goes to `out`, errors to `err`.
ParsedOptions ParseSimOptions(int argc, const char* const argv[], std::ostream& out,
                              std::ostream& err);

}  // namespace fennwick::sim
