#include "firmware/check_reader.h"

#include <zlib.h>

#include <cstdarg>
#include <cstdio>

namespace fennwick {

namespace check_detail {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char buf[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

std::string Shown(uint8_t c) {
  if (c >= 0x20 && c < 0x7F && c != '\'') return Format("'%c'", c);
  return Format("byte 0x%02X", c);
}

bool IsBlank(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t'; });
}

int HexValue(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace check_detail

uint32_t ImageCrc32(const uint8_t* image) {
  const uLong crc = crc32(0L, Z_NULL, 0);
  return static_cast<uint32_t>(crc32(crc, image, static_cast<uInt>(kImageSize)));
}


std::string ProblemLine(const FileProblem& problem) {
  return (problem.line == 0 ? std::string("file") : "line " + std::to_string(problem.line)) + ": " + problem.text;
}

std::string CountOf(size_t n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); }

std::vector<std::string> CheckSummary(const FirmwareReport& report, size_t maxListed) {
  std::vector<std::string> lines;
  if (!report.HasProblems()) return lines;
  for (size_t i = 0; i < report.problems.size() && i < maxListed; ++i) {
    lines.push_back("File check: " + ProblemLine(report.problems[i]));
  }
  if (report.readError) lines.push_back("File check: the file could not be read to its end");
  lines.push_back("File check: " + CountOf(report.ProblemCount(), "problem", "problems") + " in all.");
  return lines;
}


}  // namespace fennwick
