#pragma once
// Shared pieces of the fuzz targets: buffers with guard zones, and a stop on a broken rule.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace fennwick {

// A broken rule is a finding like a crash: the fuzzer aborts so that libFuzzer keeps the
// input; the regression tests, which replay kept inputs, define FUZZ_REPORT to fail a test.
#ifndef FUZZ_REPORT
#define FUZZ_REPORT(text) (std::fprintf(stderr, "%s\n", (text).c_str()), std::abort())
#endif
#define FUZZ_CHECK(cond)                                                                          \
  do {                                                                                            \
    if (!(cond)) FUZZ_REPORT(std::string(__FILE__) + ":" + std::to_string(__LINE__) + ": rule broken: " #cond); \
  } while (0)

// The fuzz entry points, callable from the regression tests as well.
int FuzzS19Loader(const uint8_t* data, size_t size);
int FuzzExamine(const uint8_t* data, size_t size);
int FuzzCheck(const uint8_t* data, size_t size);
int FuzzReadReply(const uint8_t* data, size_t size);

// libFuzzer's entry, left out where the regression tests include the targets.
#ifdef FENNWICK_FUZZ_NO_MAIN
#define FENNWICK_FUZZ_ENTRY(fn)
#else
#define FENNWICK_FUZZ_ENTRY(fn) \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fn(data, size); }
#endif

// Choices taken from the front of the input, so that a seed can be written by hand: a
// range takes as many bytes as its span needs (most significant first), a string a length
// and then its bytes. Past the end every byte reads as 0.
class ByteScript {
 public:
  ByteScript(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t remaining() const { return size_ - pos_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  bool Bool() { return (Byte() & 1) != 0; }
  template <class T>
  T Range(T lo, T hi) {
    const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo);
    uint64_t v = 0;
    for (uint64_t left = span; left != 0; left >>= 8) v = (v << 8) | Byte();
    return static_cast<T>(static_cast<uint64_t>(lo) + (span == UINT64_MAX ? v : v % (span + 1)));
  }
  std::string String(size_t max) {
    const size_t n = std::min(Range<size_t>(0, max), remaining());
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// `size` usable bytes with a filled guard zone on each side; Intact() tells whether
// anything outside the usable bytes changed.
class GuardedBuffer {
 public:
  static constexpr size_t kGuard = 64;
  static constexpr uint8_t kGuardByte = 0xA5;
  GuardedBuffer(size_t size, uint8_t fill) : size_(size), bytes_(size + 2 * kGuard, kGuardByte) {
    std::memset(data(), fill, size);
  }
  uint8_t* data() { return bytes_.data() + kGuard; }
  size_t size() const { return size_; }
  bool Intact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != kGuardByte || bytes_[kGuard + size_ + i] != kGuardByte) return false;
    }
    return true;
  }

 private:
  size_t size_;
  std::vector<uint8_t> bytes_;
};

inline bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Lines as the examination and the strict readers count them: one per LF, plus a last
// line without one in a file that holds any LF.
inline int64_t CountLines(const uint8_t* data, size_t size) {
  int64_t lines = 0;
  for (size_t i = 0; i < size; ++i) lines += data[i] == '\n';
  if (lines > 0 && data[size - 1] != '\n') ++lines;
  return lines;
}

}  // namespace fennwick
