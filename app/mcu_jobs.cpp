#include "app/mcu_jobs.h"

#include <memory>

#include "firmware/firmware_file.h"

namespace {
// The log shows the first few; `fennwick-cli check` lists them all.
constexpr size_t kListedProblems = 3;
}  // namespace

void McuJobRunner::Program(const char16_t* path) { m_port.LogOwnLine(ProgramVerdict(m_port.ProgramMcu(path))); }

void McuJobRunner::Examine(const char16_t* path) {
  m_concerns.clear();
  if (m_port.ExamineFile(path) == 0) {
    // The examination itself stays silent about a file it cannot open.
    if (m_port.LastExamine().verdict == ExamineOutcome::Verdict::FileNotOpened) {
      m_port.LogOwnLine("The file cannot be opened.");
    }
    m_concerns.push_back("The file could not be examined.");
    return;
  }
  switch (m_port.LastExamine().verdict) {
    case ExamineOutcome::Verdict::Unsuitable:
      m_concerns.push_back("The file does not suit the MCU attached.");
      break;
    case ExamineOutcome::Verdict::NoDescription:
      m_concerns.push_back("The file has no description.");
      break;
    default:
      break;
  }
  // The run reads the file as S19 whatever it holds, so it is checked as S19.
  std::unique_ptr<IFile> file = path != nullptr ? m_files.OpenRead(path) : nullptr;
  if (!file) return;
  const FirmwareReport report = CheckS19(*file);
  for (const std::string& line : CheckSummary(report, kListedProblems)) m_port.LogOwnLine(line);
  if (report.HasProblems()) {
    m_concerns.push_back("The file check found " + CountOf(report.ProblemCount(), "problem", "problems") +
                         " (see the log).");
  }
}
