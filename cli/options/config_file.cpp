#include "cli/options/config_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string_view>
#include <utility>

#include "cli/records/file_calls.h"
#include "cli/verbs/commands.h"
#include "cli/verbs/host.h"

namespace fennwick {

namespace {

// A configuration is a few dozen lines; anything near this is not one.
constexpr size_t kMaxConfigBytes = size_t{1} << 20;

// What is wrong with a file, at a line of it (0: the file as a whole).
struct Refusal {
  int line = 0;
  std::string text;
};

// One `key = value` line, or a section's head (an empty key).
struct IniLine {
  int number = 0;
  std::string section;  // a head's own name; for a key, the section it is in ("" before any)
  std::string key;
  std::vector<std::string> values;
};

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  return text;
}

std::string_view Trim(std::string_view text) {
  text = TrimLeft(text);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool StartsComment(std::string_view text) { return !text.empty() && (text[0] == ';' || text[0] == '#'); }

// What follows a value or a head may only be a comment, with a blank before it: "a"#c
// is no value that a reader of the file can tell apart.
void ExpectEnd(std::string_view rest, int number, const char* what) {
  if (!rest.empty() && StartsComment(rest)) throw Refusal{number, "a comment needs a blank before it"};
  rest = TrimLeft(rest);
  if (!rest.empty() && !StartsComment(rest)) throw Refusal{number, what};
}

// One value at the start of `text`, which is advanced past it. Inside double quotes \" and
// \\ stand for " and \ (any other backslash is kept); single quotes keep everything.
std::string TakeValue(std::string_view& text, bool inList, int number) {
  const char quote = text.front();
  if (quote == '"' || quote == '\'') {
    std::string value;
    for (size_t i = 1; i < text.size(); ++i) {
      const char c = text[i];
      if (c == quote) {
        text.remove_prefix(i + 1);
        return value;
      }
      if (quote == '"' && c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
        value += text[++i];
        continue;
      }
      value += c;
    }
    throw Refusal{number, "a quoted value needs its closing quote"};
  }
  size_t end = 0;
  while (end < text.size() && !IsBlank(text[end]) && !(inList && (text[end] == ',' || text[end] == ']'))) ++end;
  const std::string_view value = text.substr(0, end);
  if (value.empty()) throw Refusal{number, "a list item is empty"};
  if (value.find_first_of("\"'") != std::string_view::npos) {
    throw Refusal{number, "a quote mark inside an unquoted value; quote the whole value"};
  }
  // A comment needs a blank before it, so "a;b" would be neither a value nor a comment.
  if (value.find_first_of(";#") != std::string_view::npos) {
    throw Refusal{number, "a value with ; or # needs quotes"};
  }
  text.remove_prefix(end);
  return std::string(value);
}

void ParseValues(std::string_view text, IniLine& entry) {
  const int number = entry.number;
  text = TrimLeft(text);
  if (text.empty() || StartsComment(text)) {
    throw Refusal{number, "\"" + entry.key + "\" has no value (\"\" is an empty text)"};
  }
  if (text.front() != '[') {
    const bool quoted = text.front() == '"' || text.front() == '\'';
    entry.values.push_back(TakeValue(text, false, number));
    ExpectEnd(text, number,
              quoted ? "text after the closing quote (a comment starts with ; or #)"
                     : "a value with spaces needs quotes (a comment starts with ; or #)");
    return;
  }
  text.remove_prefix(1);
  bool afterComma = false;
  for (;;) {
    text = TrimLeft(text);
    if (text.empty() || StartsComment(text)) throw Refusal{number, "a list needs its closing ] on the same line"};
    if (text.front() == ']') {
      if (afterComma) throw Refusal{number, "a comma with no list item after it"};
      break;
    }
    entry.values.push_back(TakeValue(text, true, number));
    text = TrimLeft(text);
    afterComma = !text.empty() && text.front() == ',';
    if (afterComma) {
      text.remove_prefix(1);
    } else if (text.empty() || text.front() != ']') {
      throw Refusal{number, "list items are separated by commas (a value with spaces needs quotes)"};
    }
  }
  text.remove_prefix(1);
  if (entry.values.empty()) throw Refusal{number, "\"" + entry.key + "\" is an empty list; leave the key out instead"};
  ExpectEnd(text, number, "text after the list's closing ] (a comment starts with ; or #)");
}

std::vector<IniLine> ParseIni(std::string_view text) {
  std::vector<IniLine> lines;
  std::string section;
  // Editors on other systems put a byte-order mark first; it is no part of the first key.
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  int number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    for (const char c : line) {
      if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F) {
        throw Refusal{number, "a control character in the line"};
      }
    }
    line = Trim(line);
    if (line.empty() || StartsComment(line)) continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      if (close == std::string_view::npos) throw Refusal{number, "a section's name needs its closing ]"};
      section = Trim(line.substr(1, close - 1));
      if (section.empty()) throw Refusal{number, "a section without a name"};
      ExpectEnd(line.substr(close + 1), number, "text after the section's name (a comment starts with ; or #)");
      lines.push_back({number, section, "", {}});
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) throw Refusal{number, "neither \"key = value\" nor a [section]"};
    IniLine entry{number, section, std::string(Trim(line.substr(0, equals))), {}};
    if (entry.key.empty()) throw Refusal{number, "a value without a key"};
    ParseValues(line.substr(equals + 1), entry);
    lines.push_back(std::move(entry));
  }
  return lines;
}

Refusal CannotRead(int error) { return Refusal{0, std::string("cannot be read: ") + std::strerror(error)}; }

Refusal NotRegular(mode_t mode) {
  std::string text = "is not a regular file";
  if (S_ISDIR(mode)) text += " (a directory)";
  if (S_ISFIFO(mode)) text += " (a FIFO)";
  if (IsSocketMode(mode)) text += " (a socket)";
  if (S_ISCHR(mode) || S_ISBLK(mode)) text += " (a device)";
  return Refusal{0, text};
}

// The regular file's text; false when a default file is absent.
bool ReadConfigText(const ConfigSource& source, std::string& text) {
  // Looked at before it is opened: opening a FIFO waits for a writer, and a device's open has
  // effects of its own (a serial port's modem lines).
  struct stat seen {};
  if (::stat(source.path.c_str(), &seen) != 0) {
    const int error = errno;
    if (!source.named && (error == ENOENT || error == ENOTDIR)) return false;
    throw CannotRead(error);
  }
  if (!S_ISREG(seen.st_mode)) throw NotRegular(seen.st_mode);
  const int fd = OpenForReading(source.path);
  if (fd < 0) throw CannotRead(errno);
  struct stat opened {};
  // It may have been swapped for something else between the look and the open.
  if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
    ::close(fd);
    throw NotRegular(opened.st_mode);
  }
  char buffer[16384];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      ::close(fd);
      throw CannotRead(error);
    }
    if (got == 0) break;
    text.append(buffer, static_cast<size_t>(got));
    if (text.size() > kMaxConfigBytes) {
      ::close(fd);
      throw Refusal{0, "is larger than 1 MiB; it cannot be a configuration"};
    }
  }
  ::close(fd);
  return true;
}

std::vector<CLI::App*> Sections(CLI::App& app) {
  return app.get_subcommands([](CLI::App* sub) { return !sub->get_name().empty(); });
}

// The option whose long name is `key`, in `scope` or its nameless option groups; options that
// cannot come from a file (help, version, --config) are not found.
CLI::Option* FindKey(CLI::App& scope, const std::string& key) {
  for (CLI::Option* option : scope.get_options()) {
    if (!option->get_configurable()) continue;
    for (const std::string& name : option->get_lnames()) {
      if (name == key) return option;
    }
  }
  for (CLI::App* group : scope.get_subcommands([](CLI::App* sub) { return sub->get_name().empty(); })) {
    if (CLI::Option* option = FindKey(*group, key)) return option;
  }
  return nullptr;
}

// Why `key` is not an option of `scope`, with where it belongs when it is a known option
// misspelt in case or with '_' for '-', or one that sits in another section.
std::string UnknownKey(CLI::App& app, CLI::App& scope, const std::string& key) {
  std::string normal = key;
  for (char& c : normal) {
    c = c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  normal.erase(0, normal.find_first_not_of('-'));
  const std::string quoted = "\"" + key + "\"";
  const std::string here = &scope == &app ? "" : " in [" + scope.get_name() + "]";
  if (normal != key && FindKey(scope, normal) != nullptr) {
    return "unknown key " + quoted + here + "; the option is \"" + normal + "\"";
  }
  if (&scope != &app && FindKey(app, normal) != nullptr) {
    return quoted + " is not an option of [" + scope.get_name() + "]; it goes before the first section";
  }
  for (CLI::App* section : Sections(app)) {
    if (section != &scope && FindKey(*section, normal) != nullptr) {
      return quoted + " is an option of [" + section->get_name() + "] only; put it in that section";
    }
  }
  return "unknown key " + quoted + here;
}

void SetOption(CLI::Option& option, const IniLine& entry) {
  if (option.get_expected_min() == 0) {  // a flag
    if (entry.values.size() != 1 || (entry.values[0] != "true" && entry.values[0] != "false")) {
      throw Refusal{entry.number, "\"" + entry.key + "\" takes true or false"};
    }
    option.add_result(option.get_flag_value(entry.key, entry.values[0]));
  } else {
    if (entry.values.size() > 1 && option.get_items_expected_max() <= 1) {
      throw Refusal{entry.number, "\"" + entry.key + "\" takes one value, not a list"};
    }
    option.add_result(entry.values);
  }
  try {
    option.run_callback();  // converts and checks the value, and stores it
  } catch (const CLI::Error& e) {
    throw Refusal{entry.number, e.what()};
  }
}

// Every option that the line set, in the program and its commands.
void CollectSet(CLI::App& scope, std::set<const CLI::Option*>& set) {
  for (const CLI::Option* option : scope.get_options()) {
    if (option->count() > 0) set.insert(option);
  }
  for (CLI::App* sub : scope.get_subcommands([](CLI::App*) { return true; })) CollectSet(*sub, set);
}

// Applies one file over what earlier files set; returns the options it set, with their lines.
std::vector<std::pair<CLI::Option*, int>> ApplyFile(CLI::App& app, const std::string& text,
                                                     const std::set<const CLI::Option*>& fromLine) {
  std::vector<std::pair<CLI::Option*, int>> applied;
  std::map<const CLI::Option*, int> seen;
  for (const IniLine& entry : ParseIni(text)) {
    CLI::App* scope = &app;
    if (!entry.section.empty()) {
      scope = nullptr;
      std::string names;
      for (CLI::App* section : Sections(app)) {
        if (section->get_name() == entry.section) scope = section;
        names += (names.empty() ? "" : ", ") + section->get_name();
      }
      if (scope == nullptr) {
        throw Refusal{entry.number, "unknown section [" + entry.section + "] (the sections are " + names + ")"};
      }
    }
    if (entry.key.empty()) continue;
    CLI::Option* option = FindKey(*scope, entry.key);
    if (option == nullptr) throw Refusal{entry.number, UnknownKey(app, *scope, entry.key)};
    if (const auto [at, fresh] = seen.emplace(option, entry.number); !fresh) {
      const std::string first = std::to_string(at->second);
      throw Refusal{entry.number, "\"" + entry.key + "\" is given twice (first on line " + first + ")"};
    }
    if (fromLine.contains(option)) continue;
    option->clear();  // a later file wins over an earlier one
    SetOption(*option, entry);
    applied.emplace_back(option, entry.number);
  }
  return applied;
}

}  // namespace

std::vector<ConfigSource> ConfigSources(const std::string* named) {
  if (named != nullptr) return {{*named, true}};
  std::vector<ConfigSource> sources;
  for (const std::string& path : DefaultConfigPaths()) sources.push_back({path, false});
  return sources;
}

int ApplyConfigFiles(CLI::App& app, const std::vector<ConfigSource>& sources, std::FILE* err) {
  std::set<const CLI::Option*> fromLine;
  CollectSet(app, fromLine);
  struct Applied {
    CLI::Option* option;
    const std::string* path;
    int line;
  };
  std::vector<Applied> applied;
  const std::string* path = nullptr;
  try {
    // The last source first, so that each value of every file is read and checked, and the
    // first source's values are the ones that stay.
    for (auto source = sources.rbegin(); source != sources.rend(); ++source) {
      path = &source->path;
      std::string text;
      if (!ReadConfigText(*source, text)) continue;
      for (const auto& [option, line] : ApplyFile(app, text, fromLine)) applied.push_back({option, path, line});
    }
    // What the parse of the line checked for its own options holds for the files' too.
    for (const Applied& set : applied) {
      path = set.path;
      const std::string key = "\"" + set.option->get_lnames().front() + "\"";
      for (const CLI::Option* needed : set.option->get_needs()) {
        if (needed->count() == 0) throw Refusal{set.line, key + " needs " + needed->get_name()};
      }
      for (const CLI::Option* excluded : set.option->get_excludes()) {
        if (excluded->count() > 0) throw Refusal{set.line, key + " cannot go with " + excluded->get_name()};
      }
    }
  } catch (const Refusal& refusal) {
    if (refusal.line == 0) {
      std::fprintf(err, "fennwick-cli: the configuration file %s %s\n", path->c_str(), refusal.text.c_str());
    } else {
      std::fprintf(err, "fennwick-cli: %s:%d: %s\n", path->c_str(), refusal.line, refusal.text.c_str());
    }
    return kExitUsage;
  }
  return kExitOk;
}

}  // namespace fennwick
