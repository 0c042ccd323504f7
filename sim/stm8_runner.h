#pragma once
// Runs a firmware image on the STM8 instruction-set simulator (sstm8) instead of the model:
// the MCU's UART1 is on the simulator's pseudo-terminal, so the host talks to code that an
// STM8 executes, at a line time that follows its baud-rate registers and CPU clock.
#include <sys/types.h>

#include <string>
#include <vector>

#include "sim/sim_options.h"

namespace fennwick::sim {

class Stm8Runner {
 public:
  explicit Stm8Runner(const SimOptions& options);
  Stm8Runner(const Stm8Runner&) = delete;
  Stm8Runner& operator=(const Stm8Runner&) = delete;
  // Stops the simulator if it still runs and removes the working files.
  ~Stm8Runner();

  // Reads the image and finds sstm8, before the terminal is offered to anyone. Returns an
  // empty string, or what is wrong with `exitCode` set (2: the image, 1: the simulator).
  std::string Prepare(int& exitCode);

  // Serves the host on `hostMaster` until `stopFd` becomes readable (exit 0) or the
  // simulator ends by itself (1). At a stop the flash goes to --dump first (1 if it fails).
  int Run(int hostMaster, int stopFd);

 private:
  std::string StartSimulator(const std::string& uartPath);
  bool DumpFlash();
  void StopSimulator();
  void Log(const std::string& text);
  void Trace(const char* direction, const std::uint8_t* data, std::size_t size);

  const SimOptions& options_;
  std::string sstm8_;
  std::string workDir_;
  pid_t child_ = -1;
  int consolePort_ = 0;
};

}  // namespace fennwick::sim
