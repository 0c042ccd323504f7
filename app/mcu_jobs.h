#pragma once
// The window's jobs on the MCU port: programming and file examination.
#include "link/mcu_port.h"
#include "ui/job_dispatch.h"

class McuJobRunner final : public IJobRunner {
 public:
  explicit McuJobRunner(CMcuPort& port) : m_port(port) {}
  // Each job reports to the operator through the log; the outcomes are not needed here.
  void Program(const char16_t* path) override { m_port.ProgramMcu(path); }
  void Examine(const char16_t* path) override { m_port.ExamineFile(path); }

 private:
  CMcuPort& m_port;
};
