// Turns the Intel HEX that the STM8 linker writes into what the build needs from it: an S19
// file of the image (what the host flashes), or a C array of a part linked to run at a fixed
// address (the block programmer, which the application copies there).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Address to byte.
using Image = std::map<uint32_t, uint8_t>;

std::string Hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(v));
  return buf;
}

bool ParseHexByte(const std::string& text, std::size_t at, uint8_t& value) {
  if (at + 2 > text.size()) return false;
  unsigned v = 0;
  for (std::size_t i = at; i < at + 2; ++i) {
    const char c = text[i];
    v <<= 4;
    if (c >= '0' && c <= '9') {
      v |= static_cast<unsigned>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      v |= static_cast<unsigned>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      v |= static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
  }
  value = static_cast<uint8_t>(v);
  return true;
}

// Reads data (00), end (01) and extended linear address (04) records; checks every checksum.
bool ReadIntelHex(const std::string& path, Image& image, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::string line;
  uint32_t upper = 0;
  for (int number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    std::vector<uint8_t> bytes;
    uint8_t b = 0;
    for (std::size_t at = 1; at < line.size(); at += 2) {
      if (!ParseHexByte(line, at, b)) break;
      bytes.push_back(b);
    }
    uint8_t sum = 0;
    for (const uint8_t v : bytes) sum = static_cast<uint8_t>(sum + v);
    if (line[0] != ':' || line.size() % 2 == 0 || bytes.size() * 2 + 1 != line.size() ||
        bytes.size() < 5 || bytes.size() != bytes[0] + 5u || sum != 0) {
      error = path + ":" + std::to_string(number) + ": not an Intel HEX record";
      return false;
    }
    const uint32_t offset = static_cast<uint32_t>(bytes[1] << 8 | bytes[2]);
    switch (bytes[3]) {
      case 0:
        for (std::size_t i = 0; i < bytes[0]; ++i) {
          // Two parts of the link on the same byte (code run into the description block)
          // would leave one of them broken without a word.
          if (!image.emplace(upper + offset + i, bytes[4 + i]).second) {
            error = path + ":" + std::to_string(number) + ": address 0x" +
                    Hex(upper + offset + static_cast<uint32_t>(i), 5) + " is written twice";
            return false;
          }
        }
        break;
      case 1:
        return true;
      case 4:
        if (bytes[0] != 2) {
          error = path + ":" + std::to_string(number) + ": bad extended address record";
          return false;
        }
        upper = static_cast<uint32_t>(bytes[4] << 24 | bytes[5] << 16);
        break;
      default:
        break;  // start addresses mean nothing to a flash image
    }
  }
  error = path + ": no end record";
  return false;
}

std::string SRecord(char type, uint32_t address, int addressBytes, const std::vector<uint8_t>& data) {
  const auto count = static_cast<uint32_t>(addressBytes + data.size() + 1);
  uint32_t sum = count;
  for (int i = 0; i < addressBytes; ++i) sum += (address >> (8 * i)) & 0xFF;
  std::string line = std::string("S") + type + Hex(count, 2) + Hex(address, 2 * addressBytes);
  for (const uint8_t b : data) {
    line += Hex(b, 2);
    sum += b;
  }
  return line + Hex(~sum & 0xFF, 2) + "\r\n";
}

// S1 records below 64 KiB (where the host looks for the description block), S2 above;
// runs of consecutive bytes in records of up to 32.
std::string ToS19(const Image& image, const std::string& header) {
  std::string text = SRecord('0', 0, 2, std::vector<uint8_t>(header.begin(), header.end()));
  auto it = image.begin();
  while (it != image.end()) {
    const uint32_t start = it->first;
    const bool s1 = start <= 0xFFFF;
    std::vector<uint8_t> data;
    while (it != image.end() && it->first == start + data.size() && data.size() < 32 &&
           (it->first <= 0xFFFF) == s1) {
      data.push_back(it->second);
      ++it;
    }
    text += SRecord(s1 ? '1' : '2', start, s1 ? 2 : 3, data);
  }
  return text + SRecord('9', 0x8000, 2, {});
}

// The bytes from `base` to the last one as a C array (gaps zero).
bool ToCArray(const Image& image, uint32_t base, const std::string& name, std::string& text,
              std::string& error) {
  if (image.empty() || image.begin()->first < base || image.rbegin()->first - base >= 0x10000) {
    error = "the image does not lie within 64 KiB from the base address";
    return false;
  }
  std::vector<uint8_t> bytes(image.rbegin()->first - base + 1);
  for (const auto& [address, b] : image) bytes[address - base] = b;
  std::ostringstream out;
  out << "/* Generated at build time from the linked block programmer; do not edit. */\n"
      << "const unsigned char " << name << "[] = {";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out << (i % 16 ? " " : "\n  ") << "0x" << Hex(bytes[i], 2) << ",";
  }
  out << "\n};\nconst unsigned int " << name << "Size = sizeof " << name << ";\n";
  text = out.str();
  return true;
}

// The 128 KiB from 0x8000 as the host sends them (gaps 0x00), for the checks of a flashed MCU.
bool WriteFlashImage(const Image& image, const std::string& path, std::string& error) {
  constexpr uint32_t kFirst = 0x8000;
  std::string flash(0x20000, '\0');
  for (const auto& [address, b] : image) {
    if (address >= kFirst && address - kFirst < flash.size()) flash[address - kFirst] = static_cast<char>(b);
  }
  std::ofstream file(path, std::ios::binary);
  file << flash;
  file.close();
  if (!file) error = path + ": cannot be written";
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::string text, error;
  Image image;
  bool ok = false;
  if ((args.size() == 4 || args.size() == 5) && args[0] == "--s19") {
    ok = ReadIntelHex(args[1], image, error);
    if (ok) text = ToS19(image, args[3]);
    if (ok && args.size() == 5) ok = WriteFlashImage(image, args[4], error);
  } else if (args.size() == 5 && args[0] == "--c-array") {
    ok = ReadIntelHex(args[1], image, error) &&
         ToCArray(image, static_cast<uint32_t>(std::stoul(args[3], nullptr, 0)), args[4], text, error);
  } else {
    std::cerr << "usage: fennwick-ihx-convert --s19 IN.ihx OUT.s19 HEADER [FLASH.bin]\n"
                 "       fennwick-ihx-convert --c-array IN.ihx OUT.c BASE NAME\n";
    return 2;
  }
  const std::string& out = args[2];
  if (ok) {
    std::ofstream file(out, std::ios::binary);
    file << text;
    file.close();
    if (!file) {
      error = out + ": cannot be written";
      ok = false;
    }
  }
  if (!ok) {
    std::cerr << "fennwick-ihx-convert: " << error << "\n";
    return 1;
  }
  return 0;
}
