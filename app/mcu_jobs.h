#pragma once
// The window's jobs on the MCU port: programming and file examination.
#include <string>
#include <vector>

#include "link/mcu_port.h"
#include "platform/file.h"
#include "ui/job_dispatch.h"

namespace fennwick {

class McuJobRunner final : public IJobRunner {
 public:
  explicit McuJobRunner(CMcuPort& port, IFileSystem& files = DefaultFileSystem()) : port_(port), files_(files) {}
  // The run, then one log line of our own that says how it ended.
  void Program(const char16_t* path) override;
  // The examination, then the strict check's problems, if any, in a few lines.
  void Examine(const char16_t* path) override;
  std::vector<std::string> ProgramConcerns() override { return concerns_; }

 private:
  CMcuPort& port_;
  IFileSystem& files_;
  // Written by the examination on the worker, read on the window's thread once it has ended.
  std::vector<std::string> concerns_;
};

}  // namespace fennwick
