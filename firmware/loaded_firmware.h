#pragma once
// Firmware read once: the one way the front ends and `check` get a firmware file. What the
// check, the examination and every board's programming run use is built here once, from
// the same bytes, and shared read-only: what is flashed is exactly what was checked,
// whatever happens to the file on disk meanwhile.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "firmware/examine.h"
#include "firmware/firmware_file.h"
#include "firmware/s19_loader.h"
#include "platform/file.h"

namespace fennwick {

// Far above any firmware file (a 128 KiB image as S19 is some 300 KB); a larger file is a
// mistake, and a firmware file is read into memory whole.
constexpr size_t kFirmwareFileLimit = 64u << 20;

struct LoadOptions {
  // Unknown: a raw binary when the file is named *.bin, else the format its content shows.
  FirmwareFormat format = FirmwareFormat::Unknown;
  uint32_t base = kFlashBase;  // where a raw binary starts
};

struct LoadedFirmware {
  std::shared_ptr<const std::string> bytes = std::make_shared<const std::string>();  // the file's content
  FirmwareReport report;  // its format, problems, and the image as the programming run sends it
  // S19 and a file of no known format (both go through the S19 loader): the examination's
  // reading of the bytes, the loader's counts, and the loader's line buffer as far as its
  // lines reached, which the programming run's end record carries.
  ExaminationScan scan;
  LoadStats loader;
  std::vector<uint8_t> loaderRemains;

  FirmwareFormat format() const { return report.format; }
  const std::vector<uint8_t>& image() const { return report.image; }
  uint32_t crc32() const { return report.crc32; }
  // Intel HEX and raw binaries are examined and flashed from the image their reading built.
  bool FromImage() const { return format() == FirmwareFormat::IntelHex || format() == FirmwareFormat::Binary; }
};

// Checks `bytes` (already read: a pipe's) as `options` says and builds all a run needs.
// `name` only tells a raw binary by its name.
LoadedFirmware LoadFirmware(std::string bytes, const LoadOptions& options = {}, const std::string& name = {});

struct FirmwareRead {
  enum class Status { Read, Unreadable, ReadShort };
  Status status = Status::Unreadable;
  int error = 0;       // the errno value behind a failure, when one is known
  std::string reason;  // the system's reason, as a person reads it ("is a directory", "read error: ...")
  // ReadShort: built from what came before the failure, so that it can still be examined;
  // its report holds a read error, and it is never flashed.
  LoadedFirmware firmware;
  bool ok() const { return status == Status::Read; }
};

// Reads the firmware file at `path` whole (a regular file of at most kFirmwareFileLimit
// bytes) and loads it: through `files` (the window's, a test's fake), or by its name as the
// system takes it (any bytes a name may hold; what is no regular file is refused without
// waiting, and the reason tells what it is).
FirmwareRead ReadFirmware(IFileSystem& files, const std::u16string& path, const LoadOptions& options = {});
FirmwareRead ReadFirmware(const std::string& path, const LoadOptions& options = {});

}  // namespace fennwick
