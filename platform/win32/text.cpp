#include <windows.h>

#include "platform/text.h"

namespace fennwick {

namespace {

// What Windows-1252 puts at 0x80..0x9F; the five bytes it leaves undefined keep the C1
// control of the same value.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t FromCp1252(unsigned char b) { return b >= 0x80 && b <= 0x9F ? kHigh[b - 0x80] : char16_t(b); }

}  // namespace

std::u16string Cp1252ToUtf16(std::string_view text) {
  std::u16string s;
  s.reserve(text.size());
  for (char c : text) s.push_back(FromCp1252(static_cast<unsigned char>(c)));
  return s;
}

std::string Utf16ToCp1252(std::u16string_view text) {
  std::string s;
  s.reserve(text.size());
  for (char16_t u : text) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      s.push_back(static_cast<char>(u));
      continue;
    }
    char out = '?';
    for (int i = 0; i < 32; ++i) {
      if (kHigh[i] == u) out = static_cast<char>(0x80 + i);
    }
    s.push_back(out);
  }
  return s;
}

bool Utf16ToUtf8(std::u16string_view text, std::string& out) {
  out.clear();
  if (text.empty()) return true;
  const auto* in = reinterpret_cast<const wchar_t*>(text.data());
  const int len = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, in, len, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, in, len, out.data(), n, nullptr, nullptr) == n;
}

bool Utf8ToUtf16(std::string_view text, std::u16string& out) {
  out.clear();
  if (text.empty()) return true;
  const int len = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), len, nullptr, 0);
  if (n <= 0) return false;
  out.resize(static_cast<size_t>(n));
  return ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), len, reinterpret_cast<wchar_t*>(out.data()),
                               n) == n;
}

}  // namespace fennwick
