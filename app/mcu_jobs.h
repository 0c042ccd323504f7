#pragma once
// The window's jobs on the MCU port: programming and file examination.
#include <optional>
#include <string>
#include <vector>

#include "firmware/loaded_firmware.h"
#include "link/mcu_port.h"
#include "link/protocol.h"
#include "platform/file.h"
#include "ui/job_dispatch.h"
#include "ui/log_console.h"

namespace fennwick {

class McuJobRunner final : public IJobRunner {
 public:
  // The port's run reports to the window's log console from here on.
  explicit McuJobRunner(CMcuPort& port, IFileSystem& files = DefaultFileSystem(),
                        std::u16string portName = kMcuPortName)
      : port_(port), files_(files), portName_(std::move(portName)) {
    port_.SetObserver(&WindowConsole());
  }
  // Opens the port and identifies the MCU; a failure the system can explain gets its reason
  // in a log line of our own.
  IdentifyOutcome Identify();
  // Reads the file again: the bytes examined last are flashed only while the file still
  // holds them; a file that changed is examined again instead, for the operator to judge.
  // After an Open that could not read the file, nothing is read or sent.
  // A run ends with one log line of our own that says how it ended.
  void Program(const char16_t* path) override;
  // Reads the file once, examines it, then logs the strict check's problems, if any, in a
  // few lines.
  void Examine(const char16_t* path) override;
  // The last examination's concerns; none without an examined file, which Start examines
  // before anything is sent.
  std::vector<std::string> ProgramConcerns() override;
  std::vector<std::string> TakeFreshExamination() override;
  void ConfirmExamined() override { flashExamined_ = true; }

 private:
  // A port that is closed (it never opened, or it was lost) is opened again and the MCU
  // identified first, so that a board that is back is reached without a restart.
  void ReopenPortIfNeeded();
  // Examines and checks a firmware read whole or in part; keeps it as what a run may flash
  // when the examination went through.
  void ExamineRead(FirmwareRead read);

  CMcuPort& port_;
  IFileSystem& files_;
  std::u16string portName_;
  // Written by the examination on the worker, read on the window's thread once it has ended.
  std::vector<std::string> concerns_;
  // The bytes examined last (at Open, or by a Start that found the file changed), and what
  // was built from them.
  std::optional<LoadedFirmware> firmware_;
  // The last Open could not read the file at all: Start is refused until Open reads one.
  bool openFailed_ = false;
  // Set on the window's thread before a run is armed: the operator has seen the fresh
  // examination, and the run flashes its bytes without reading the file again.
  bool flashExamined_ = false;
  // Set by a run that examined the file instead of flashing it: the first sentence to put
  // to the operator.
  std::string freshNote_;
};

}  // namespace fennwick
