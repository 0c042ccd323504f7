#pragma once
// The window's jobs on the MCU port: programming and file examination.
#include <optional>
#include <string>
#include <vector>

#include "firmware/firmware_file.h"
#include "link/mcu_port.h"
#include "link/protocol.h"
#include "platform/file.h"
#include "ui/job_dispatch.h"

namespace fennwick {

class McuJobRunner final : public IJobRunner {
 public:
  explicit McuJobRunner(CMcuPort& port, IFileSystem& files = DefaultFileSystem(),
                        std::u16string portName = kMcuPortName)
      : port_(port), files_(files), portName_(std::move(portName)) {}
  // Opens the port and identifies the MCU; a failure the system can explain gets its reason
  // in a log line of our own.
  void Identify();
  // The run of the file read at the last Open, then one log line of our own that says how
  // it ended.
  void Program(const char16_t* path) override;
  // Reads the file once, examines it, then logs the strict check's problems, if any, in a
  // few lines.
  void Examine(const char16_t* path) override;
  // The examination's concerns, and whether the file on disk still holds the bytes that
  // were examined (the log says so when it does not).
  std::vector<std::string> ProgramConcerns() override;

 private:
  // A port that is closed (it never opened, or it was lost) is opened again and the MCU
  // identified first, so that a board that is back is reached without a restart.
  void ReopenPortIfNeeded();

  CMcuPort& port_;
  IFileSystem& files_;
  std::u16string portName_;
  // Written by the examination on the worker, read on the window's thread once it has ended.
  std::vector<std::string> concerns_;
  std::optional<FirmwareImage> firmware_;  // the bytes read at Open, and what was built from them
  std::u16string firmwarePath_;
};

}  // namespace fennwick
