#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "cli/console/console_parts.h"
#include "cli/console/output_text.h"
#include "cli/records/interrupt.h"
#include "cli/verbs/host.h"

namespace fennwick {

namespace {

bool NamesUtf8(const char* name) {
  std::string lower;
  for (const char* p = name; *p != '\0'; ++p) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return lower.find("utf-8") != std::string::npos || lower.find("utf8") != std::string::npos;
}

}  // namespace

std::vector<std::string> DefaultConfigPaths() {
  std::vector<std::string> paths;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    paths.push_back(std::string(xdg) + "/fennwick/fennwick.ini");
  } else if (home != nullptr && home[0] == '/') {
    paths.push_back(std::string(home) + "/.config/fennwick/fennwick.ini");
  }
  paths.push_back("/etc/fennwick/fennwick.ini");
  return paths;
}

// A terminal without cursor control (TERM=dumb, or none) would show the sequences.
bool IsProgressTerminal(int fd) { return ::isatty(fd) != 0 && TerminalTakesControls(std::getenv("TERM")); }

bool SystemLogAvailable() { return true; }

bool WaitForStandardInput() {
  for (;;) {
    if (StopRequested()) return false;
    // Short waits, each after a look at the request: a signal that comes just before the
    // poll, or in another thread, ends the wait all the same.
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&in, 1, 100);
    if (ready > 0 || (ready < 0 && errno != EINTR)) return !StopRequested();  // the read tells the rest
  }
}

bool LocaleIsUtf8() {
  // The locale the user asked for, not the program's own (which stays "C" for our formatting).
  if (locale_t loc = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr))) {
    const bool utf8 = NamesUtf8(::nl_langinfo_l(CODESET, loc));
    ::freelocale(loc);
    return utf8;
  }
  // A locale that is named but not installed: go by its name.
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(var);
    if (value != nullptr && value[0] != '\0') return NamesUtf8(value);
  }
  return false;
}

}  // namespace fennwick
