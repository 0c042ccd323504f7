#include "app/mcu_jobs.h"

#include <cerrno>
#include <cstring>
#include <memory>

namespace fennwick {

namespace {
// The log shows the first few; `fennwick-cli check` lists them all.
constexpr size_t kListedProblems = 3;

// The file's bytes as they are now: 0, or the errno value of why they cannot be had.
int ReadNow(IFileSystem& files, const std::u16string& path, std::string& bytes) {
  int error = 0;
  std::unique_ptr<IFile> file = files.OpenRead(path, error);
  if (!file) return error != 0 ? error : ENOENT;
  return ReadFileBytes(*file, kFirmwareFileLimit, bytes);
}
}  // namespace

void McuJobRunner::ReopenPortIfNeeded() {
  const bool lost = port_.LineLost();
  if (port_.m_hPort != kInvalidHandle && !lost) return;
  port_.LogOwnLine(lost ? "The MCU port was lost; opening it again." : "The MCU port is not open; opening it again.");
  port_.ClosePort();
  Identify();
}

void McuJobRunner::Identify() {
  port_.OpenAndIdentify(portName_);
  const IdentifyOutcome& id = port_.LastIdentify();
  const std::string reason = id.portErrno != 0 ? std::string(": ") + std::strerror(id.portErrno) : std::string();
  switch (id.status) {
    case IdentifyOutcome::Status::PortNotOpened:
      port_.LogOwnLine("The port " + id.portPath + " cannot be opened" +
                       (id.openError == OpenError::ControllingTerminal ? ": it is this program's own terminal" : reason) +
                       ".");
      break;
    case IdentifyOutcome::Status::PortNotSetUp:
      port_.LogOwnLine("The port " + id.portPath + " cannot be set up" + reason + ".");
      break;
    case IdentifyOutcome::Status::LineLost:
      port_.LogOwnLine("The port " + id.portPath + " was lost during the identification.");
      break;
    case IdentifyOutcome::Status::NotRun:
    case IdentifyOutcome::Status::Interrupted:
    case IdentifyOutcome::Status::Silent:  // the time-outs are in the log already
    case IdentifyOutcome::Status::Identified:
      break;
  }
}

void McuJobRunner::Program(const char16_t* path) {
  ReopenPortIfNeeded();
  // Without bytes from Open (they could not be read) the file is read now, as a run of
  // its own reads it; Start asked the operator first.
  const ProgramOutcome outcome = firmware_ ? port_.ProgramFirmware(*firmware_) : port_.ProgramMcu(path);
  port_.LogOwnLine(ProgramVerdict(outcome));
  for (const std::string& warning : ProgramWarnings(outcome)) port_.LogOwnLine("Warning: " + warning);
}

void McuJobRunner::Examine(const char16_t* path) {
  concerns_.clear();
  firmware_.reset();
  firmwarePath_ = path != nullptr ? path : u"";
  // The verdict compares the file with the MCU's version, which a closed port cannot give.
  ReopenPortIfNeeded();
  std::unique_ptr<IFile> file = path != nullptr ? files_.OpenRead(firmwarePath_) : nullptr;
  if (!file) {
    // The examination itself stays silent about a file it cannot open.
    port_.LogOwnLine("The file cannot be opened.");
    concerns_.push_back("The file could not be examined.");
    return;
  }
  std::string bytes;
  const int readErrno = ReadFileBytes(*file, kFirmwareFileLimit, bytes);
  file.reset();
  // The run reads the file as S19 whatever it holds, so it is checked as S19.
  FirmwareImage firmware = MakeFirmwareImage(std::move(bytes), FirmwareFormat::S19);
  firmware.report.readError = readErrno != 0;
  const ExamineOutcome examined = port_.ExamineFirmware(firmware);
  switch (examined.verdict) {
    case ExamineOutcome::Verdict::NotRun:
    case ExamineOutcome::Verdict::FileNotOpened:
    case ExamineOutcome::Verdict::OutOfMemory:
      concerns_.push_back("The file could not be examined.");
      return;
    case ExamineOutcome::Verdict::Unsuitable:
      concerns_.push_back("The file does not suit the MCU attached.");
      break;
    case ExamineOutcome::Verdict::NoDescription:
      concerns_.push_back("The file has no description.");
      break;
    case ExamineOutcome::Verdict::Suitable:
      break;
  }
  if (readErrno != 0) {
    port_.LogOwnLine(std::string("The file could not be read to its end: ") + std::strerror(readErrno) + ".");
    concerns_.push_back("The file could not be read to its end.");
  } else {
    for (const std::string& line : CheckSummary(firmware.report, kListedProblems)) port_.LogOwnLine(line);
    if (firmware.report.HasProblems()) {
      concerns_.push_back("The file check found " + CountOf(firmware.report.ProblemCount(), "problem", "problems") +
                          " (see the log).");
    }
  }
  firmware_ = std::move(firmware);
}

std::vector<std::string> McuJobRunner::ProgramConcerns() {
  std::vector<std::string> concerns = concerns_;
  if (!firmware_) return concerns;
  std::string now;
  const int error = ReadNow(files_, firmwarePath_, now);
  if (error == 0 && now == *firmware_->bytes) return concerns;
  const std::string why = error == 0 ? "has changed" : std::string("cannot be read (") + std::strerror(error) + ")";
  port_.LogOwnLine("The file on disk " + why + " since it was examined; Start programs the examined file.");
  concerns.insert(concerns.begin(), "The file on disk " + why + " since it was examined.");
  return concerns;
}

}  // namespace fennwick
