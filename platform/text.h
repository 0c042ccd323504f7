#pragma once
// Text conversions between the 8-bit log text (Windows-1252, the device's ANSI code page),
// UTF-16 (window texts and paths) and UTF-8 (the Linux side).
#include <string>
#include <string_view>

namespace fennwick {

// Every byte maps to one UTF-16 unit; the five bytes that Windows-1252 leaves undefined
// map to the C1 control of the same value, as the device's converter did.
std::u16string Cp1252ToUtf16(std::string_view text);
// The inverse of Cp1252ToUtf16; characters outside Windows-1252 become '?'.
std::string Utf16ToCp1252(std::u16string_view text);
bool Utf16ToUtf8(std::u16string_view text, std::string& out);
bool Utf8ToUtf16(std::string_view text, std::u16string& out);

}  // namespace fennwick
