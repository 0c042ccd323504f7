#include "sim/stm8_image.h"

#include <cstdio>

namespace fennwick::sim {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes of a line of hex digit pairs, or nullopt.
std::optional<std::vector<std::uint8_t>> HexBytes(std::string_view digits) {
  if (digits.size() % 2 != 0) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int hi = HexDigit(digits[i]);
    const int lo = HexDigit(digits[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  return bytes;
}

std::uint32_t BigEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, std::size_t n) {
  std::uint32_t v = 0;
  for (std::size_t i = 0; i < n; ++i) v = v << 8 | bytes[at + i];
  return v;
}

bool Store(SparseImage& image, std::uint32_t address, const std::uint8_t* data, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (!image.emplace(address + static_cast<std::uint32_t>(i), data[i]).second) return false;
  }
  return true;
}

std::string Hex(std::uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(v));
  return buf;
}

constexpr std::size_t kDumpBytesPerLine = 16;

std::string HexRecord(std::uint8_t type, std::uint16_t offset, const std::uint8_t* data, std::size_t n) {
  std::uint32_t sum = static_cast<std::uint32_t>(n) + (offset >> 8) + (offset & 0xFF) + type;
  // Built up by appends: gcc 12 warns falsely (-Wrestrict) on ":" + std::string.
  std::string line = ":";
  line += Hex(static_cast<std::uint32_t>(n), 2);
  line += Hex(offset, 4);
  line += Hex(type, 2);
  for (std::size_t i = 0; i < n; ++i) {
    line += Hex(data[i], 2);
    sum += data[i];
  }
  return line + Hex((0x100 - (sum & 0xFF)) & 0xFF, 2) + "\n";
}

}  // namespace

std::optional<SparseImage> ReadFirmwareText(std::string_view text, std::string& error) {
  SparseImage image;
  const bool hex = !text.empty() && text.front() == ':';
  if (!hex && (text.empty() || text.front() != 'S')) {
    error = "neither an S19 nor an Intel HEX file";
    return std::nullopt;
  }
  std::uint32_t upper = 0;
  bool ended = false;
  std::size_t number = 0;
  while (!text.empty() && !ended) {
    ++number;
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    const auto fail = [&](const std::string& what) {
      error = "line " + std::to_string(number) + ": " + what;
      return std::nullopt;
    };
    if (line.front() != (hex ? ':' : 'S') || line.size() < 2) return fail("not a record");
    const auto bytes = HexBytes(line.substr(hex ? 1 : 2));
    std::uint32_t sum = 0;
    if (bytes) {
      for (const std::uint8_t b : *bytes) sum += b;
    }
    if (hex) {
      if (!bytes || bytes->size() < 5 || bytes->size() != (*bytes)[0] + 5u) return fail("bad record length");
      if ((sum & 0xFF) != 0) return fail("bad checksum");
      const std::uint32_t offset = BigEndian(*bytes, 1, 2);
      switch ((*bytes)[3]) {
        case 0:
          if (!Store(image, upper + offset, bytes->data() + 4, (*bytes)[0])) return fail("bytes given twice");
          break;
        case 1:
          ended = true;
          break;
        case 2:
          if ((*bytes)[0] != 2) return fail("bad segment address record");
          upper = BigEndian(*bytes, 4, 2) << 4;
          break;
        case 4:
          if ((*bytes)[0] != 2) return fail("bad extended address record");
          upper = BigEndian(*bytes, 4, 2) << 16;
          break;
        default:
          break;  // start addresses
      }
    } else {
      if (!bytes || bytes->empty() || bytes->size() != (*bytes)[0] + 1u) return fail("bad record length");
      if ((sum & 0xFF) != 0xFF) return fail("bad checksum");
      const char type = line[1];
      const std::size_t addressBytes = type == '1' ? 2 : type == '2' ? 3 : type == '3' ? 4 : 0;
      if (addressBytes == 0) continue;  // header, count and end records carry no data
      if ((*bytes)[0] < addressBytes + 1) return fail("bad record length");
      const std::uint32_t address = BigEndian(*bytes, 1, addressBytes);
      if (!Store(image, address, bytes->data() + 1 + addressBytes, (*bytes)[0] - addressBytes - 1)) {
        return fail("bytes given twice");
      }
    }
  }
  if (hex && !ended) {
    error = "no end record";
    return std::nullopt;
  }
  if (image.empty()) {
    error = "no data";
    return std::nullopt;
  }
  return image;
}

std::string ToIntelHex(const SparseImage& image) {
  std::string text;
  std::uint32_t upper = 0;
  auto it = image.begin();
  while (it != image.end()) {
    const std::uint32_t start = it->first;
    if ((start >> 16) != upper) {
      upper = start >> 16;
      const std::uint8_t ext[2] = {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)};
      text += HexRecord(4, 0, ext, 2);
    }
    std::vector<std::uint8_t> run;
    while (it != image.end() && it->first == start + run.size() && run.size() < 32 &&
           (it->first >> 16) == upper) {
      run.push_back(it->second);
      ++it;
    }
    text += HexRecord(0, static_cast<std::uint16_t>(start), run.data(), run.size());
  }
  return text + HexRecord(1, 0, nullptr, 0);
}

std::optional<std::vector<std::uint8_t>> ParseConsoleDump(std::string_view text, std::uint32_t first,
                                                          std::size_t size) {
  std::vector<std::uint8_t> out(size);
  std::vector<bool> seen(size);
  std::size_t count = 0;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view raw = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    // Drop the console's colour sequences (ESC [ ... letter).
    std::string line;
    for (std::size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == '\x1b' && i + 1 < raw.size() && raw[i + 1] == '[') {
        i += 2;
        while (i < raw.size() && !((raw[i] >= 'A' && raw[i] <= 'Z') || (raw[i] >= 'a' && raw[i] <= 'z'))) ++i;
        continue;
      }
      line += raw[i];
    }
    const std::size_t at = line.find("0x");
    if (at == std::string::npos) continue;
    std::size_t pos = at + 2;
    std::uint32_t address = 0;
    std::size_t digits = 0;
    for (; pos < line.size() && HexDigit(line[pos]) >= 0; ++pos, ++digits) {
      address = address << 4 | static_cast<std::uint32_t>(HexDigit(line[pos]));
    }
    if (digits == 0 || digits > 8 || pos >= line.size() || line[pos] != ' ') continue;
    // Then the byte columns, as many as the dump was asked for a line: the ASCII column that
    // follows them may hold text that looks like bytes.
    for (std::size_t column = 0; column < kDumpBytesPerLine; ++column) {
      while (pos < line.size() && line[pos] == ' ') ++pos;
      if (pos + 2 > line.size() || HexDigit(line[pos]) < 0 || HexDigit(line[pos + 1]) < 0 ||
          (pos + 2 < line.size() && line[pos + 2] != ' ')) {
        break;
      }
      const auto value = static_cast<std::uint8_t>(HexDigit(line[pos]) << 4 | HexDigit(line[pos + 1]));
      if (address >= first && address - first < size && !seen[address - first]) {
        out[address - first] = value;
        seen[address - first] = true;
        ++count;
      }
      ++address;
      pos += 2;
    }
  }
  if (count != size) return std::nullopt;
  return out;
}

}  // namespace fennwick::sim
