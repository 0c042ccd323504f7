#pragma once
// What a function writes to a FILE*, as a string.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace fennwick {

inline std::string Capture(const std::function<void(std::FILE*)>& fn) {
  char* buf = nullptr;
  size_t len = 0;
  std::FILE* f = open_memstream(&buf, &len);
  fn(f);
  std::fclose(f);
  std::string s(buf, len);
  std::free(buf);
  return s;
}

}  // namespace fennwick
