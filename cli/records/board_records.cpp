#include "cli/records/board_records.h"

#include "cli/records/log_file.h"
#include "cli/records/run_report.h"
#include "link/exit_codes.h"

namespace fennwick {

RunRecord BoardRecord::Share::Whole(RunRecord run) const {
  const RunInfo& info = records->info_;
  run.command = records->command_;
  run.tool = std::string("fennwick-cli ") + ToolVersion();
  run.station = info.station;
  if (info.file != nullptr) {
    run.file = info.file->path;
    run.imageCrc32 = Crc32Text(info.file->crc32);
  }
  run.startedUtc = started;
  run.unit = unit;
  return run;
}

std::function<void()> BoardRecord::KeepForStop(std::function<RunRecord()> now) {
  const RunLogFile* log = share_.records->sinks_.log;
  if (log == nullptr) return nullptr;
  atOnce_ = std::make_unique<AtOnceRecord>(log->fd());
  // By value: the function outlives a move of this object.
  std::function<void()> keep = [share = share_, armed = atOnce_.get(), now = std::move(now)] {
    armed->Update(RecordBody(share.Whole(now())));
  };
  keep();
  return keep;
}

RunRecord BoardRecord::Finish(RunRecord board) {
  RunRecord run = share_.Whole(std::move(board));
  const RecordSinks& sinks = share_.records->sinks_;
  auto failed = [&](const std::string& what, const std::string& whyNot, const char* result) {
    std::fprintf(sinks.err, "fennwick-cli: cannot write %s: %s\n", what.c_str(), whyNot.c_str());
    std::fflush(sinks.err);
    if (run.exitCode == kExitOk) {
      run.exitCode = kExitLogFile;
      run.result = result;
    }
  };
  if (sinks.log != nullptr) {
    std::string whyNot;
    if (!sinks.log->Append(run, whyNot)) failed("the log file " + sinks.log->path(), whyNot, "log file not written");
  }
  if (atOnce_ != nullptr) atOnce_->Disarm();
  if (sinks.syslog != nullptr) {
    std::string whyNot;
    if (!SendToSystemLog(*sinks.syslog, share_.records->info_, run, whyNot)) {
      failed("to the system log", whyNot, "system log not written");
    }
  }
  return run;
}

BoardRecords::BoardRecords(std::string command, RunInfo info, RecordSinks sinks, std::vector<std::string> units)
    : command_(std::move(command)), info_(std::move(info)), sinks_(sinks), units_(std::move(units)) {}

BoardRecord BoardRecords::Begin(size_t index) const {
  return BoardRecord({this, index < units_.size() ? units_[index] : std::string(), UtcNow()});
}

int BoardRecords::End(const std::vector<RunRecord>& runs) const {
  std::vector<int> codes;
  for (const RunRecord& run : runs) codes.push_back(run.exitCode);
  const int code = CombinedExitCode(codes);
  if (sinks_.json == nullptr) return code;
  return WriteJsonDocument(sinks_.json, sinks_.err, JsonDocument(info_, runs, code), code);
}

}  // namespace fennwick
