#include <unistd.h>

#include <cstdlib>

#include "cli/host.h"

namespace fennwick {

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

bool IsProgressTerminal(int fd) { return ::isatty(fd) != 0; }

bool SystemLogAvailable() { return true; }

}  // namespace fennwick
