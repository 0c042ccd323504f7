#pragma once
// Raw binary images: the file's bytes are the flash from a base address on. Such a file has
// no structure to check, so it is taken only when its name or the user says so; a damaged
// S19 or HEX file must never pass for one.
#include <cstdint>
#include <string>

#include "firmware/firmware_file.h"

namespace fennwick {

// *.bin, in any letter case.
bool HasBinaryName(const std::string& file);

// Reads the whole file as the flash's bytes from `base` (kFlashBase..0x27FFF) on. A file
// that runs past the flash's end is a problem ("file: ..."), and its excess bytes are
// counted in outOfRangeBytes and left out of the image.
FirmwareReport CheckBinary(IFile& file, uint32_t base = kFlashBase);

// Image loader for the programming run. A file that does not fit is a read error: what
// would be flashed is not what the file says.
LoadStats LoadBinaryImage(IFile& file, uint8_t* image, uint32_t base = kFlashBase);

// Parses a base address ("0x8000", "32768"): false unless it lies inside the flash.
bool ParseFlashAddress(const std::string& text, uint32_t& address);

}  // namespace fennwick
