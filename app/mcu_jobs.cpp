#include "app/mcu_jobs.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace fennwick {

namespace {
// The log shows the first few; `fennwick-cli check` lists them all.
constexpr size_t kListedProblems = 3;

std::string Reason(int error) { return std::strerror(error != 0 ? error : ENOENT); }

// The run reads the file as S19 whatever it holds, so it is checked as S19.
const LoadOptions kAsS19{FirmwareFormat::S19};
}  // namespace

void McuJobRunner::ReopenPortIfNeeded() {
  const bool lost = port_.LineLost();
  if (port_.IsOpen() && !lost) return;
  port_.LogOwnLine(lost ? "The MCU port was lost; opening it again." : "The MCU port is not open; opening it again.");
  port_.ClosePort();
  Identify();
}

IdentifyOutcome McuJobRunner::Identify() {
  const IdentifyOutcome id = port_.OpenAndIdentify(portName_);
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
  return id;
}

void McuJobRunner::Program(const char16_t* path) {
  const bool confirmed = std::exchange(flashExamined_, false);
  freshNote_.clear();
  ReopenPortIfNeeded();
  if (path == nullptr) {
    port_.LogOwnLine("Nothing was flashed: no file was chosen.");
    return;
  }
  // A file that Open could not read was never examined, so there is nothing the operator
  // has judged; Open must read it first.
  if (openFailed_) {
    port_.LogOwnLine("Nothing was flashed: the file could not be read when it was opened; open it again.");
    return;
  }
  // The operator has judged the examination of bytes this job's predecessor read: exactly
  // those go out, whatever the file holds by now.
  if (!confirmed || !firmware_) {
    FirmwareRead now = ReadFirmware(files_, path, kAsS19);
    switch (now.status) {
      case FirmwareRead::Status::Unreadable:
        port_.LogOwnLine("Nothing was flashed: the file cannot be opened: " + now.reason + ".");
        return;
      case FirmwareRead::Status::ReadShort:
        port_.LogOwnLine("Nothing was flashed: the file could not be read to its end: " + Reason(now.error) + ".");
        return;
      case FirmwareRead::Status::Read:
        break;
    }
    // A rebuilt file is what the operator means, but it goes to the MCU only once its own
    // examination has been shown and judged.
    if (!firmware_ || *now.firmware.bytes != *firmware_->bytes) {
      const bool changed = firmware_.has_value();
      port_.LogOwnLine(changed ? "The file on disk has changed since it was examined; examining it again."
                               : "The file has not been examined; examining it first.");
      ExamineRead(std::move(now));
      if (!firmware_) {
        port_.LogOwnLine("Nothing was flashed: the file could not be examined.");
        return;
      }
      freshNote_ = changed ? "The file on disk has changed since it was examined; the examination above is the new one."
                           : "The file had not been examined; the examination above is its first.";
      return;
    }
  }
  const ProgramOutcome outcome = port_.ProgramMcu(*firmware_);
  port_.LogOwnLine(ProgramVerdict(outcome));
  for (const std::string& warning : ProgramWarnings(outcome)) port_.LogOwnLine("Warning: " + warning);
}

void McuJobRunner::Examine(const char16_t* path) {
  flashExamined_ = false;
  freshNote_.clear();
  concerns_.clear();
  firmware_.reset();
  openFailed_ = false;
  // The verdict compares the file with the MCU's version, which a closed port cannot give.
  ReopenPortIfNeeded();
  FirmwareRead read;
  if (path != nullptr) read = ReadFirmware(files_, path, kAsS19);
  if (path == nullptr || read.status == FirmwareRead::Status::Unreadable) {
    // The examination itself stays silent about a file it cannot open.
    port_.LogOwnLine("The file cannot be opened.");
    concerns_.push_back("The file could not be examined.");
    openFailed_ = true;
    return;
  }
  ExamineRead(std::move(read));
}

void McuJobRunner::ExamineRead(FirmwareRead read) {
  concerns_.clear();
  firmware_.reset();
  LoadedFirmware& firmware = read.firmware;
  // Judged against what the port's identification kept (the window's g_mcuVersion).
  const ExamineOutcome examined = port_.ExamineFirmware(firmware, port_.McuVersion());
  switch (examined.verdict) {
    case ExamineOutcome::Verdict::NotRun:
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
  if (read.status == FirmwareRead::Status::ReadShort) {
    port_.LogOwnLine(std::string("The file could not be read to its end: ") + std::strerror(read.error) + ".");
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
  if (!firmware_) return {};
  return concerns_;
}

std::vector<std::string> McuJobRunner::TakeFreshExamination() {
  if (freshNote_.empty()) return {};
  std::vector<std::string> concerns{std::exchange(freshNote_, std::string())};
  concerns.insert(concerns.end(), concerns_.begin(), concerns_.end());
  return concerns;
}

}  // namespace fennwick
