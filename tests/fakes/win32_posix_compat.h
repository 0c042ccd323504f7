#pragma once
// The few POSIX calls that the tests use and Windows lacks; the Windows build of the tests
// includes this ahead of every file. (No <windows.h> here: its macros would rename our own
// functions in every test.)
#include <chrono>
#include <cstring>
#include <filesystem>
#include <system_error>

// Replaces the trailing XXXXXX of `pattern` and creates that directory; null when it cannot.
inline char* mkdtemp(char* pattern) {
  const size_t len = std::strlen(pattern);
  if (len < 6 || std::strcmp(pattern + len - 6, "XXXXXX") != 0) return nullptr;
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  auto seed = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (size_t i = len - 6; i < len; ++i) {
      seed = seed * 1103515245u + 12345u;
      pattern[i] = kDigits[(seed >> 16) % 36];
    }
    std::error_code ec;
    if (std::filesystem::create_directory(pattern, ec)) return pattern;
    if (ec) return nullptr;
  }
  return nullptr;
}
