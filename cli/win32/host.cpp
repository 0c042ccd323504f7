#include <io.h>
#include <windows.h>

#include "cli/console/output_text.h"
#include "cli/records/interrupt.h"
#include "cli/verbs/host.h"
#include "platform/text.h"

namespace fennwick {

namespace {

// A folder from the environment, as UTF-8; empty when it is not set or not absolute.
std::string Folder(const wchar_t* variable) {
  wchar_t buf[MAX_PATH * 4];
  const DWORD n = ::GetEnvironmentVariableW(variable, buf, sizeof buf / sizeof buf[0]);
  if (n == 0 || n >= sizeof buf / sizeof buf[0]) return {};
  std::string utf8;
  if (!Utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(buf), n), utf8)) return {};
  // "C:\..." or "\\server\...": a relative folder would depend on where the program starts.
  const bool absolute = (utf8.size() > 2 && utf8[1] == ':' && (utf8[2] == '\\' || utf8[2] == '/')) ||
                        utf8.rfind("\\\\", 0) == 0;
  return absolute ? utf8 : std::string();
}

}  // namespace

// %APPDATA%\fennwick\fennwick.ini (the user's roaming settings), then
// %PROGRAMDATA%\fennwick\fennwick.ini (the machine's, as /etc is on Linux).
std::vector<std::string> DefaultConfigPaths() {
  std::vector<std::string> paths;
  for (const wchar_t* variable : {L"APPDATA", L"PROGRAMDATA"}) {
    const std::string folder = Folder(variable);
    if (!folder.empty()) paths.push_back(folder + "\\fennwick\\fennwick.ini");
  }
  return paths;
}

// A console whose virtual-terminal mode is on (PrepareProcess asks for it); the runtime's
// isatty would also say yes for the NUL device and for a console that shows the sequences raw.
bool IsProgressTerminal(int fd) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) && (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

bool SystemLogAvailable() { return false; }

// The program's code page is UTF-8 (its manifest) and so is its console's output
// (PrepareProcess): Windows has no locale setting that would ask for less.
bool LocaleIsUtf8() { return true; }

bool WaitForStandardInput() {
  HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  // Only a pipe keeps a reader waiting; a file or the null device answers at once.
  if (in == nullptr || in == INVALID_HANDLE_VALUE || ::GetFileType(in) != FILE_TYPE_PIPE) return !StopRequested();
  for (;;) {
    if (StopRequested()) return false;
    DWORD available = 0;
    // A pipe whose writer is gone fails here: the read then finds its end.
    if (!::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr) || available > 0) return !StopRequested();
    ::Sleep(50);
  }
}

}  // namespace fennwick
