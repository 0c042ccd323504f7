#pragma once
// The one scratch folder of the tests: a fresh, private directory under the system's temporary
// folder (TMPDIR), removed with everything in it when the object goes, even when a test fails;
// and the one way a test reads a file back. Header-only, so that every test executable can use
// them whatever it links.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <system_error>

namespace fennwick {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "fennwick-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary folder");
    path = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // A name inside the folder.
  std::string operator/(const std::string& name) const { return (std::filesystem::path(path) / name).string(); }

  std::string path;
};

// A file's bytes as they are; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace fennwick
