#pragma once
// The MCU's flash as firmware files are read for it: where the image lies, where its
// description block is, and how long a line the readers hold. Every reader and message
// takes these from here.
#include <cstddef>
#include <cstdint>

namespace fennwick {

constexpr uint32_t kFlashBase = 0x8000;
constexpr size_t kImageSize = 0x20000;
constexpr uint64_t kFlashEnd = kFlashBase + kImageSize;  // exclusive: 0x28000
constexpr uint32_t kFlashLast = static_cast<uint32_t>(kFlashEnd - 1);

// The description block and its two texts.
constexpr uint32_t kDescriptionAddress = 0x8100;
constexpr uint32_t kSecondTextAddress = 0x8120;
// The part of the block that an image of the flash is read from: 0x8100 to 0x81FF.
constexpr size_t kDescriptionWindow = 0x100;
// The examination stores S1 records below this address only.
constexpr uint32_t kExaminedRecordLimit = 0x8A00;

// The line buffer of the image loader (which the programming run then uses for its
// packets) and of the examination; a longer line is not a record.
constexpr size_t kLineBufferSize = 1024;

}  // namespace fennwick
