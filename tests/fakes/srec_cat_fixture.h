#pragma once
// A scratch directory for tests that check our readers against files written by srec_cat
// (Debian's srecord); the tests skip where it is not installed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "fakes/temp_dir.h"

namespace fennwick {

template <typename Base = ::testing::Test>
class SrecCatFixture : public Base {
 protected:
  void SetUp() override {
    if (std::system("command -v srec_cat >/dev/null 2>&1") != 0) GTEST_SKIP() << "srec_cat is not installed";
  }
  // Runs a command in the directory; its messages go to a file there.
  void Run(const std::string& command) {
    const std::string full = "cd '" + dir_.string() + "' && " + command + " 2>>srec_cat.err";
    ASSERT_EQ(std::system(full.c_str()), 0) << full << "\n" << Slurp("srec_cat.err");
  }
  // A file's bytes; a relative name is taken within the directory.
  std::string Slurp(const std::filesystem::path& p) const {
    return ReadFile((p.is_absolute() ? p : dir_ / p).string());
  }
  TempDir tmp_;
  const std::filesystem::path dir_{tmp_.path};
};

}  // namespace fennwick
