#include "app/mcu_jobs.h"

#include <memory>

#include "firmware/firmware_file.h"

namespace fennwick {

namespace {
// The log shows the first few; `fennwick-cli check` lists them all.
constexpr size_t kListedProblems = 3;
}  // namespace

void McuJobRunner::Program(const char16_t* path) { port_.LogOwnLine(ProgramVerdict(port_.ProgramMcu(path))); }

void McuJobRunner::Examine(const char16_t* path) {
  concerns_.clear();
  if (port_.ExamineFile(path) == 0) {
    // The examination itself stays silent about a file it cannot open.
    if (port_.LastExamine().verdict == ExamineOutcome::Verdict::FileNotOpened) {
      port_.LogOwnLine("The file cannot be opened.");
    }
    concerns_.push_back("The file could not be examined.");
    return;
  }
  switch (port_.LastExamine().verdict) {
    case ExamineOutcome::Verdict::Unsuitable:
      concerns_.push_back("The file does not suit the MCU attached.");
      break;
    case ExamineOutcome::Verdict::NoDescription:
      concerns_.push_back("The file has no description.");
      break;
    default:
      break;
  }
  // The run reads the file as S19 whatever it holds, so it is checked as S19.
  std::unique_ptr<IFile> file = path != nullptr ? files_.OpenRead(path) : nullptr;
  if (!file) return;
  const FirmwareReport report = CheckS19(*file);
  for (const std::string& line : CheckSummary(report, kListedProblems)) port_.LogOwnLine(line);
  if (report.HasProblems()) {
    concerns_.push_back("The file check found " + CountOf(report.ProblemCount(), "problem", "problems") +
                         " (see the log).");
  }
}

}  // namespace fennwick
