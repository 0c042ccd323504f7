#pragma once
// `fennwick-cli check FILE`: a strict reading of an S19, Intel HEX or raw binary file, and the helpers
// with which `program` and `examine` check and read such files. No option parsing here.
//
// The report, on `out`, one item per line:
//   format: S19                           (or "Intel HEX", "unknown")
//   lines: 2049                           (the line count the examination uses)
//   data: 0x08000-0x27FFF, 131072 bytes   (one line per contiguous run; "data: none")
//   description: "$107 Fennwick sample"   (the first text, or "description: none (no '$'
//   description: second text "..."         at 0x8100)"; for S19 as the examination finds
//   description: compatibility "107"       it)
//   crc32: 0x1A2B3C4D                     (zlib's CRC-32 of the 131,072-byte image)
//   line 12: checksum 0x5A, expected 0x5B (one line per problem; "file: ..." for a
//   file: no end-of-file record ...        problem of the whole file)
//   result: no problems                   (or "result: 3 problems")
// Texts are shown in double quotes with \r, \n, \t, \", \\ and \xNN escapes.
#include <cstdio>
#include <optional>
#include <string>

#include "cli/records/run_record.h"
#include "cli/verbs/commands.h"
#include "firmware/loaded_firmware.h"
#include "firmware/raw_binary.h"
#include "link/exit_codes.h"
#include "link/mcu_port.h"

namespace fennwick {

// Prints the report of `file`. Returns 0 when no problem was found, 11 when problems were
// found, 7 when the file is missing, unreadable or not a regular file (with the reason on
// `err`).
int RunCheck(std::FILE* out, std::FILE* err, const std::string& file, const FileOptions& options = {});

enum class PrecheckResult {
  Clean,    // no problem: go on
  Forced,   // problems, warned about on err; go on because of --force
  Refused,  // problems, listed on err; do not program
  Unflashable,  // a raw binary larger than the flash from its base, or an image without data; never programmed
};

// The check that `program` runs on the file it has read. Problems are listed on `err`.
PrecheckResult PrecheckFirmware(std::FILE* err, const std::string& file, const FirmwareReport& report, bool force);

// Reads `file` once, whole, and checks it strictly in the format asked for (--format), else
// as a raw binary when it is named *.bin, else in the format its content shows: the bytes
// and the image that the examination and the programming run then use. Only a regular file
// is read (a FIFO or a device is refused at once), of at most kFirmwareFileLimit; "-" reads
// standard input to its end, with the same limit, unless a stop is requested first. False, with a reason a person can act on in
// `whyNot`, when it cannot be read.
bool ReadFirmwareArgument(const std::string& file, LoadedFirmware& firmware, std::string& whyNot,
                          const FileOptions& options = {});
// The exit code of a ReadFirmware that failed: kExitInterrupted when a stop ended the wait
// for standard input, else kExitFile.
int FailedReadCode(const std::string& file);

// The file of a verb that runs on boards, read once before any port is touched, or the end of
// the command when it cannot be used: the message is on err and, with --json, a document
// without ports is on out, so that a script always has one to read.
struct FileForRun {
  LoadedFirmware firmware;
  FileFacts facts;  // of a file that the command goes on with
  std::optional<int> stop;  // the command's exit code when it ends here
};
// `force` given: the file is checked for programming (PrecheckFirmware) with that --force.
FileForRun ReadFileForRun(const CliContext& ctx, const std::string& verb, const std::string& file,
                          std::optional<bool> force = std::nullopt);

}  // namespace fennwick
