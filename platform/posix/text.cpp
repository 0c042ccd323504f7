#include "platform/text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace fennwick {

namespace {

// One converter per thread and direction: iconv descriptors are not thread-safe, and
// several ports may log at once.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts `in`; on an unconvertible or invalid sequence calls onBad(bytesLeft) which
  // returns how many input bytes to skip after appending its own replacement to `out`.
  template <typename OnBad>
  bool Run(const char* in, size_t inLen, std::vector<char>& out, OnBad onBad) {
    if (!ok()) return false;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* src = const_cast<char*>(in);
    size_t left = inLen;
    char chunk[1024];
    while (left > 0) {
      char* dst = chunk;
      size_t room = sizeof chunk;
      const size_t r = iconv(cd_, &src, &left, &dst, &room);
      out.insert(out.end(), chunk, dst);
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        const size_t skip = onBad(src, left, out);
        if (skip == 0) return false;
        src += skip;
        left -= skip;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

void PutUnit(std::vector<char>& out, char16_t u) {
  out.push_back(static_cast<char>(u & 0xFF));
  out.push_back(static_cast<char>(u >> 8));
}

std::u16string FromLe(const std::vector<char>& bytes) {
  std::u16string s;
  s.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    s.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                      (static_cast<uint8_t>(bytes[i + 1]) << 8)));
  }
  return s;
}

std::vector<char> ToLe(std::u16string_view s) {
  std::vector<char> bytes;
  bytes.reserve(s.size() * 2);
  for (char16_t u : s) PutUnit(bytes, u);
  return bytes;
}

// Most log text is ASCII, which both encodings share code for code: it needs no converter
// (every board's log goes through here on every line).
template <typename Char>
bool Ascii(std::basic_string_view<Char> text) {
  for (Char c : text) {
    if (static_cast<uint32_t>(static_cast<std::make_unsigned_t<Char>>(c)) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::u16string Cp1252ToUtf16(std::string_view text) {
  if (Ascii(text)) return std::u16string(text.begin(), text.end());
  thread_local Converter conv("UTF-16LE", "WINDOWS-1252");
  std::vector<char> out;
  out.reserve(text.size() * 2);
  const bool ok = conv.Run(text.data(), text.size(), out, [](const char* at, size_t, std::vector<char>& o) {
    PutUnit(o, static_cast<char16_t>(static_cast<uint8_t>(*at)));
    return size_t{1};
  });
  if (!ok) {
    // Without a converter every byte still gets a character: Latin-1 is right for most.
    std::u16string s;
    for (char c : text) s.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
    return s;
  }
  return FromLe(out);
}

std::string Utf16ToCp1252(std::u16string_view text) {
  if (Ascii(text)) return std::string(text.begin(), text.end());
  thread_local Converter conv("WINDOWS-1252", "UTF-16LE");
  const std::vector<char> in = ToLe(text);
  std::vector<char> out;
  out.reserve(text.size());
  const bool ok = conv.Run(in.data(), in.size(), out, [](const char* at, size_t left, std::vector<char>& o) {
    if (left < 2) return left;
    const char16_t u = static_cast<char16_t>(static_cast<uint8_t>(at[0]) | (static_cast<uint8_t>(at[1]) << 8));
    // The C1 controls stand for the bytes that the code page leaves undefined.
    o.push_back(u >= 0x80 && u <= 0x9F ? static_cast<char>(u) : '?');
    return size_t{2};
  });
  if (!ok) return std::string(text.size(), '?');
  return std::string(out.begin(), out.end());
}

bool Utf16ToUtf8(std::u16string_view text, std::string& out) {
  thread_local Converter conv("UTF-8", "UTF-16LE");
  const std::vector<char> in = ToLe(text);
  std::vector<char> bytes;
  if (!conv.Run(in.data(), in.size(), bytes, [](const char*, size_t, std::vector<char>&) { return size_t{0}; }))
    return false;
  out.assign(bytes.begin(), bytes.end());
  return true;
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
  thread_local Converter conv("UTF-16LE", "UTF-8");
  std::vector<char> bytes;
  if (!conv.Run(text.data(), text.size(), bytes, [](const char*, size_t, std::vector<char>&) { return size_t{0}; }))
    return false;
  out = FromLe(bytes);
  return true;
}

}  // namespace fennwick
