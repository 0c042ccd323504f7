#pragma once
// Output files that a reader sees either whole or not at all.
#include <cstdint>
#include <span>
#include <string>

namespace fennwick::sim {

// Writes `data` to a temporary file beside `path` and renames it over `path`, so that a
// reader sees either the old file or the complete new one. Returns an empty string on
// success, else what went wrong.
std::string WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> data);

// Checks that a file could be created beside `path` (and that `path` is no directory),
// so a bad --dump is reported at start-up rather than after a whole session.
std::string CheckWritableBeside(const std::string& path);

}  // namespace fennwick::sim
