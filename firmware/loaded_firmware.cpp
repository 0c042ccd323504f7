#include "firmware/loaded_firmware.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "firmware/check_reader.h"
#include "firmware/raw_binary.h"
#include "platform/text.h"

namespace fennwick {

LoadedFirmware LoadFirmware(std::string bytes, const LoadOptions& options, const std::string& name) {
  const FirmwareFormat format =
      options.format == FirmwareFormat::Unknown && HasBinaryName(name) ? FirmwareFormat::Binary : options.format;
  LoadedFirmware firmware;
  auto shared = std::make_shared<const std::string>(std::move(bytes));
  BytesFile file(shared);
  check_detail::CheckExtras extras;
  switch (format) {
    case FirmwareFormat::S19: firmware.report = check_detail::CheckS19(file, &extras); break;
    case FirmwareFormat::IntelHex: firmware.report = CheckIntelHex(file); break;
    case FirmwareFormat::Binary: firmware.report = CheckBinary(file, options.base); break;
    case FirmwareFormat::Unknown: firmware.report = check_detail::CheckFirmware(file, &extras); break;
  }
  firmware.scan = extras.scan;
  firmware.loader = extras.loader;
  firmware.loaderRemains = std::move(extras.remains);
  firmware.bytes = std::move(shared);
  return firmware;
}

FirmwareRead ReadFirmware(IFileSystem& files, const std::u16string& path, const LoadOptions& options) {
  FirmwareRead read;
  std::unique_ptr<IFile> file = files.OpenRead(path, read.error);
  if (!file) {
    read.status = FirmwareRead::Status::Unreadable;
    if (read.error == 0) read.error = ENOENT;
    read.reason = std::strerror(read.error);
    return read;
  }
  std::string bytes;
  read.error = ReadFileBytes(*file, kFirmwareFileLimit, bytes);
  file.reset();
  if (read.error == EFBIG) {
    read.status = FirmwareRead::Status::Unreadable;
    read.reason = "is larger than " + std::to_string(kFirmwareFileLimit) + " bytes, too large for a firmware file";
    return read;
  }
  std::string name;
  Utf16ToUtf8(path, name);
  read.firmware = LoadFirmware(std::move(bytes), options, name);
  if (read.error != 0) {
    read.status = FirmwareRead::Status::ReadShort;
    read.reason = std::string("read error: ") + std::strerror(read.error);
    read.firmware.report.readError = true;
  } else {
    read.status = FirmwareRead::Status::Read;
  }
  return read;
}

FirmwareRead ReadFirmware(const std::string& path, const LoadOptions& options) {
  FirmwareRead read;
  std::string bytes;
  if (!ReadRegularFile(path, kFirmwareFileLimit, bytes, read.reason)) {
    read.status = FirmwareRead::Status::Unreadable;
    return read;
  }
  read.status = FirmwareRead::Status::Read;
  read.firmware = LoadFirmware(std::move(bytes), options, path);
  return read;
}

}  // namespace fennwick
