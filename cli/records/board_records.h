#pragma once
// The records of a command's boards: each board's record, made of the command's share and the
// board's, kept ready for a stop at once, then appended to the log file and sent to the system
// log; and at the end the command's exit code, with its JSON document under --json.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/records/interrupt.h"
#include "cli/records/run_record.h"
#include "cli/records/system_log.h"

namespace fennwick {

class RunLogFile;

// Where the records go besides the person's screen.
struct RecordSinks {
  RunLogFile* log = nullptr;                 // --log-file
  const SystemLogSockets* syslog = nullptr;  // --syslog
  std::FILE* err = nullptr;                  // where a record that could not be written is told
  std::FILE* json = nullptr;                 // --json: where the document goes
};

class BoardRecords;

// One board's record while its run lasts.
class BoardRecord {
 public:
  // With a log file, a stop at once still leaves the board's record: the function returned
  // renews it from `now` (the board's share as it stands) and is called once here; without
  // one it is empty.
  std::function<void()> KeepForStop(std::function<RunRecord()> now);
  // The whole record from the board's share, kept where the line keeps its records. A record
  // that could not be written turns a success into kExitLogFile, since a production line
  // relies on it.
  RunRecord Finish(RunRecord board);

 private:
  friend class BoardRecords;
  // The command's share of the record and the board's unit and start.
  struct Share {
    const BoardRecords* records;
    std::string unit;
    std::string started;
    RunRecord Whole(RunRecord board) const;
  };
  explicit BoardRecord(Share share) : share_(std::move(share)) {}

  Share share_;
  std::unique_ptr<AtOnceRecord> atOnce_;
};

class BoardRecords {
 public:
  // `units`: --unit, one per board in order.
  BoardRecords(std::string command, RunInfo info, RecordSinks sinks, std::vector<std::string> units);

  // The record of the board at `index`, its run starting now.
  BoardRecord Begin(size_t index) const;
  // The boards' combined exit code; under --json the document of all their records.
  int End(const std::vector<RunRecord>& runs) const;

 private:
  friend class BoardRecord;
  std::string command_;
  RunInfo info_;
  RecordSinks sinks_;
  std::vector<std::string> units_;
};

}  // namespace fennwick
