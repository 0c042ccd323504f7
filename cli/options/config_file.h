#pragma once
// fennwick-cli's configuration files: which are read, and how their keys become options that
// the command line left unset. Every fault in a file (a key or section the program does not
// know, a value of the wrong type, a line it cannot read) is refused with the file and line.
#include <cstdio>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace fennwick {

struct ConfigSource {
  std::string path;
  bool named = false;  // given with --config: it must exist
};

// `named` when --config was given, else the user's file ($XDG_CONFIG_HOME or ~/.config) and
// then the site's (/etc). The environment's paths are taken whole, whatever they contain.
std::vector<ConfigSource> ConfigSources(const std::string* named);

// Sets the options of `app` (and of its commands, from their sections) that the line left
// unset: the line wins over the first source, and that over the next. Every value of every
// file is checked. The parse of the line must be done. kExitOk, or kExitUsage after a message
// on `err`.
int ApplyConfigFiles(CLI::App& app, const std::vector<ConfigSource>& sources, std::FILE* err);

}  // namespace fennwick
