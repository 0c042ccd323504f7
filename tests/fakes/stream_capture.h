#pragma once
// What a function writes to a FILE*, as a string. A temporary file rather than a memory
// stream, which Windows lacks.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

namespace fennwick {

inline std::string Capture(const std::function<void(std::FILE*)>& fn) {
  std::FILE* f = std::tmpfile();
  if (f == nullptr) {
    ADD_FAILURE() << "no temporary file";
    return {};
  }
  fn(f);
  std::string s;
  std::rewind(f);
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
  std::fclose(f);
  return s;
}

}  // namespace fennwick
