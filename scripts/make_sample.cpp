// Writes a sample firmware of our own as an S19 file (and its flash image as a binary),
// for the demo, the tests and the benchmark.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace fennwick {

namespace {

constexpr uint32_t kBase = 0x8000;
constexpr uint32_t kSize = 0x20000;

std::string Hex(uint32_t v, int digits) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*X", digits, v);
  return buf;
}

std::string Record(char type, uint32_t address, int addrBytes, const uint8_t* data, size_t n) {
  const uint32_t count = static_cast<uint32_t>(addrBytes + n + 1);
  uint32_t sum = count;
  for (int i = 0; i < addrBytes; ++i) sum += (address >> (8 * i)) & 0xFF;
  std::string line = std::string("S") + type + Hex(count, 2) + Hex(address, 2 * addrBytes);
  for (size_t i = 0; i < n; ++i) {
    line += Hex(data[i], 2);
    sum += data[i];
  }
  return line + Hex(~sum & 0xFF, 2);
}

}  // namespace

}  // namespace fennwick

using namespace fennwick;

int main(int argc, char** argv) {
  CLI::App app{"Writes a sample firmware S19 file for a 128 KiB flash at 0x8000", "fennwick-make-sample"};
  std::string out, bin, tag = "107", name = "Fennwick sample", second = "firmware for the simulated MCU\r\n";
  uint32_t seed = 1;
  bool lf = false;
  app.add_option("--out", out, "S19 file to write")->required();
  app.add_option("--bin", bin, "also write the 131,072-byte flash image");
  app.add_option("--tag", tag, "the three compatibility characters (description bytes 6 to 8)");
  app.add_option("--name", name, "rest of the first description text");
  app.add_option("--second", second, "second description text (at 0x8120)");
  app.add_option("--seed", seed, "seed of the image content");
  app.add_flag("--lf", lf, "end lines with LF instead of CR LF");
  CLI11_PARSE(app, argc, argv);
  if (tag.size() != 3) {
    std::fprintf(stderr, "fennwick-make-sample: --tag takes exactly three characters\n");
    return 2;
  }

  std::vector<uint8_t> image(kSize);
  // Varied content: a xorshift stream, so that a misplaced block shows.
  uint32_t x = seed ? seed : 1;
  for (auto& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 24);
  }
  const std::string first = "$FNWK-" + tag + " " + name + " ";
  if (first.size() >= 0x20 || second.size() >= 0x40) {
    std::fprintf(stderr, "fennwick-make-sample: description texts too long\n");
    return 2;
  }
  std::memset(&image[0x100], 0, 0x60);
  std::memcpy(&image[0x100], first.data(), first.size());
  std::memcpy(&image[0x120], second.data(), second.size());

  const std::string eol = lf ? "\n" : "\r\n";
  std::string text;
  const std::string header = "fennwick sample " + tag;
  text += Record('0', 0, 2, reinterpret_cast<const uint8_t*>(header.data()), header.size()) + eol;
  constexpr size_t kPerLine = 32;
  for (uint32_t off = 0; off < kSize; off += kPerLine) {
    const uint32_t address = kBase + off;
    const bool s1 = address <= 0xFFFF;
    text += Record(s1 ? '1' : '2', address, s1 ? 2 : 3, &image[off], kPerLine) + eol;
  }
  text += Record('9', 0x8000, 2, nullptr, 0) + eol;

  auto write = [](const std::string& path, const void* data, size_t n) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
  };
  if (!write(out, text.data(), text.size()) || (!bin.empty() && !write(bin, image.data(), image.size()))) {
    std::perror("fennwick-make-sample");
    return 1;
  }
  return 0;
}
