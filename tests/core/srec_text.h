#pragma once
// Builds S-record lines for the firmware readers' tests.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fennwick {

// One record "S<type>" with a count, an address of `addressBytes` bytes, the data and a
// correct checksum (unless `checksum` is given), without a line end.
inline std::string Record(char type, int addressBytes, uint32_t address, const std::vector<uint8_t>& data,
                          int checksum = -1) {
  std::vector<uint8_t> bytes;
  bytes.push_back(static_cast<uint8_t>(addressBytes + data.size() + 1));
  for (int i = addressBytes - 1; i >= 0; --i) bytes.push_back(static_cast<uint8_t>(address >> (8 * i)));
  bytes.insert(bytes.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (uint8_t b : bytes) sum += b;
  bytes.push_back(checksum >= 0 ? static_cast<uint8_t>(checksum) : static_cast<uint8_t>(~sum & 0xFF));
  std::string line = {'S', type};
  char hex[3];
  for (uint8_t b : bytes) {
    std::snprintf(hex, sizeof hex, "%02X", b);
    line += hex;
  }
  return line;
}

inline std::string S1(uint32_t address, const std::vector<uint8_t>& data) { return Record('1', 2, address, data); }
inline std::string S2(uint32_t address, const std::vector<uint8_t>& data) { return Record('2', 3, address, data); }
inline std::string S3(uint32_t address, const std::vector<uint8_t>& data) { return Record('3', 4, address, data); }

inline std::vector<uint8_t> Text(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace fennwick
