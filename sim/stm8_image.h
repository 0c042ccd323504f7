#pragma once
// Images for the STM8 instruction-set simulator: an S19 or Intel HEX file read strictly, the
// Intel HEX that the simulator loads, and the flash read back from its console's dump.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fennwick::sim {

constexpr std::uint32_t kStm8FlashFirst = 0x8000;
constexpr std::uint32_t kStm8FlashSize = 0x20000;

// Address to byte.
using SparseImage = std::map<std::uint32_t, std::uint8_t>;

// Reads S19 (S1/S2/S3 data) or Intel HEX (data and extended addresses), told apart by the
// first character; every checksum is checked and bytes given twice are refused. On failure
// `error` says where and what.
std::optional<SparseImage> ReadFirmwareText(std::string_view text, std::string& error);

// Intel HEX of the image, with extended linear address records above 64 KiB.
std::string ToIntelHex(const SparseImage& image);

// The bytes of a console dump of 16 bytes a line ("0x08000  00 11 ... ascii", colour
// sequences allowed)
// from `first` for `size` bytes; nullopt unless every one of them was listed.
std::optional<std::vector<std::uint8_t>> ParseConsoleDump(std::string_view text, std::uint32_t first,
                                                          std::size_t size);

}  // namespace fennwick::sim
