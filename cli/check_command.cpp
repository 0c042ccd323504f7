#include "cli/check_command.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/file.h"
#include "platform/text.h"

namespace {

// Why `file` cannot be opened, in the system's words.
std::string OpenProblem(const std::string& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  const bool dir = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  ::close(fd);
  return dir ? std::strerror(EISDIR) : "cannot be opened";
}

std::unique_ptr<IFile> Open(const std::string& file, std::string& whyNot) {
  std::u16string path;
  if (file.empty() || !Utf8ToUtf16(file, path)) {
    whyNot = "cannot use the file name " + file;
    return nullptr;
  }
  std::unique_ptr<IFile> f = DefaultFileSystem().OpenRead(path);
  if (!f) whyNot = "cannot read " + file + ": " + OpenProblem(file);
  return f;
}

// A file's text in quotes, with what a terminal would not show escaped.
std::string Quoted(const std::string& text) {
  std::string s = "\"";
  for (const char ch : text) {
    const auto c = static_cast<uint8_t>(ch);
    switch (c) {
      case '\r': s += "\\r"; break;
      case '\n': s += "\\n"; break;
      case '\t': s += "\\t"; break;
      case '"': s += "\\\""; break;
      case '\\': s += "\\\\"; break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          s += ch;
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          s += hex;
        }
    }
  }
  return s + "\"";
}

void Say(std::FILE* err, const std::string& text) {
  std::fprintf(err, "fennwick-cli: %s\n", text.c_str());
  std::fflush(err);
}

}  // namespace

bool ReadFirmwareFile(const std::string& file, FirmwareReport& report, std::string& whyNot,
                      const FileOptions& options) {
  const FirmwareFormat format =
      options.format == FirmwareFormat::Unknown && HasBinaryName(file) ? FirmwareFormat::Binary : options.format;
  std::unique_ptr<IFile> f = Open(file, whyNot);
  if (!f) return false;
  switch (format) {
    case FirmwareFormat::S19: report = CheckS19(*f); break;
    case FirmwareFormat::IntelHex: report = CheckIntelHex(*f); break;
    case FirmwareFormat::Binary: report = CheckBinary(*f, options.base); break;
    case FirmwareFormat::Unknown: report = CheckFirmware(*f); break;
  }
  if (report.readError) {
    whyNot = "read error in " + file;
    return false;
  }
  return true;
}

int RunCheck(std::FILE* out, std::FILE* err, const std::string& file, const FileOptions& options) {
  FirmwareReport r;
  std::string whyNot;
  if (!ReadFirmwareFile(file, r, whyNot, options)) {
    Say(err, whyNot);
    return kExitFile;
  }
  std::fprintf(out, "format: %s\n", FirmwareFormatName(r.format));
  std::fprintf(out, "lines: %d\n", r.lineCount);
  if (r.ranges.empty()) std::fprintf(out, "data: none\n");
  for (const DataRange& range : r.ranges) {
    std::fprintf(out, "data: 0x%05X-0x%05X, %s\n", range.first, range.last,
                 CountOf(range.Size(), "byte", "bytes").c_str());
  }
  const DescriptionBlock& d = r.description;
  if (!d.present) {
    std::fprintf(out, "description: none (no '$' at 0x8100)\n");
  } else {
    std::fprintf(out, "description: %s\n", Quoted(d.first).c_str());
    std::fprintf(out, "description: second text %s\n", Quoted(d.second).c_str());
    const std::string compat(d.compat.begin(), d.compat.end());
    std::fprintf(out, "description: compatibility %s\n", Quoted(compat).c_str());
  }
  std::fprintf(out, "crc32: 0x%08X\n", r.crc32);
  for (const FileProblem& p : r.warnings) std::fprintf(out, "warning: %s\n", ProblemLine(p).c_str());
  for (const FileProblem& p : r.problems) std::fprintf(out, "%s\n", ProblemLine(p).c_str());
  if (r.unlistedProblems > 0) {
    std::fprintf(out, "... and %s not listed\n", CountOf(r.unlistedProblems, "more problem", "more problems").c_str());
  }
  const size_t n = r.ProblemCount();
  std::fprintf(out, "result: %s\n", n == 0 ? "no problems" : CountOf(n, "problem", "problems").c_str());
  std::fflush(out);
  return n == 0 ? 0 : kExitFileProblems;
}

PrecheckResult PrecheckFile(std::FILE* err, const std::string& file, bool force, const FileOptions& options) {
  FirmwareReport r;
  std::string whyNot;
  if (!ReadFirmwareFile(file, r, whyNot, options)) {
    Say(err, whyNot);
    return PrecheckResult::Unreadable;
  }
  if (r.format == FirmwareFormat::Binary && r.outOfRangeBytes > 0) {
    // No --force: flashing part of an image is never what the file asks for.
    Say(err, file + " does not fit the flash: " + r.problems.front().text + "; not programmed");
    return PrecheckResult::TooLong;
  }
  for (const FileProblem& p : r.warnings) Say(err, "warning: " + file + " " + ProblemLine(p));
  if (!r.HasProblems()) return PrecheckResult::Clean;
  for (const FileProblem& p : r.problems) Say(err, file + " " + ProblemLine(p));
  if (r.unlistedProblems > 0) {
    Say(err, file + ": and " + CountOf(r.unlistedProblems, "more problem", "more problems"));
  }
  const std::string problems = CountOf(r.ProblemCount(), "problem", "problems");
  if (force) {
    Say(err, "warning: " + file + " has " + problems + "; programming it anyway (--force)");
    return PrecheckResult::Forced;
  }
  Say(err, file + " has " + problems + "; not programmed (give --force to program it anyway)");
  return PrecheckResult::Refused;
}

bool IsIntelHex(const std::string& file) { return ResolveFormat(file, {}) == FirmwareFormat::IntelHex; }

FirmwareFormat ResolveFormat(const std::string& file, const FileOptions& options) {
  if (options.format != FirmwareFormat::Unknown) return options.format;
  if (HasBinaryName(file)) return FirmwareFormat::Binary;
  std::string whyNot;
  std::unique_ptr<IFile> f = Open(file, whyNot);
  return f ? DetectFirmwareFormat(*f) : FirmwareFormat::Unknown;
}

ImageLoader LoaderFor(FirmwareFormat format, const FileOptions& options, bool acceptProblems) {
  switch (format) {
    case FirmwareFormat::IntelHex: return MakeIntelHexLoader(acceptProblems);
    case FirmwareFormat::Binary:
      return [base = options.base](IFile& file, uint8_t* image, uint8_t*) { return LoadBinaryImage(file, image, base); };
    case FirmwareFormat::S19:
    case FirmwareFormat::Unknown: break;
  }
  return {};  // the programming run's own S19 reader
}

ImageLoader MakeIntelHexLoader(bool acceptProblems) {
  return [acceptProblems](IFile& file, uint8_t* image, uint8_t* packetBuffer) {
    return LoadIntelHexImage(file, image, packetBuffer, acceptProblems);
  };
}
