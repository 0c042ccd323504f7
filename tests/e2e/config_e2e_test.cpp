// Configuration files as sites write them: what each line sets, every line that is refused
// (with its file and line), files that are no regular file, and the shipped example.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/process.h"

namespace fennwick {

namespace {

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// `ports` opens no port, and says which device "COM2:" maps to: the first port configured.
RunResult Ports(const std::vector<std::string>& before) {
  std::vector<std::string> argv = {BinPath("fennwick-cli")};
  argv.insert(argv.end(), before.begin(), before.end());
  argv.push_back("ports");
  return RunProgram(argv, 20);
}

bool MapsTo(const std::string& out, const std::string& port) {
  const std::string said = "\"COM2:\" maps to " + port;
  const size_t at = out.find(said);
  const size_t end = at + said.size();
  return at != std::string::npos && end < out.size() && std::isspace(static_cast<unsigned char>(out[end])) != 0;
}

TEST(ConfigFile, ValuesCommentsAndLineEndsAreReadAsWritten) {
  TempDir dir;
  const std::string ini = dir.path + "/fennwick.ini";
  struct Case {
    std::string text;
    std::string port;
  };
  const Case cases[] = {
      {"port = \"/dev/x\"   ; board 1\n", "/dev/x"},
      {"port = /dev/x # board 1\n", "/dev/x"},
      {"\xEF\xBB\xBF; a byte-order mark first\r\nport = /dev/bom\r\n", "/dev/bom"},
      {"# [program]\n  ; indented\nport = ['/dev/a;1', \"/dev/b\"]  ; two boards\n", "/dev/a;1"},
      {"port = [ \"/dev/q \\\"x\\\" \\\\ \\n\" ]\n", "/dev/q \"x\" \\ \\n"},
      {"[program]\nblock-timeout = 5000\nforce = false\n", ""},
  };
  for (const Case& c : cases) {
    WriteText(ini, c.text);
    const RunResult r = Ports({"--config", ini});
    EXPECT_EQ(r.exitCode, 0) << c.text << r.err;
    if (!c.port.empty()) {
      EXPECT_TRUE(MapsTo(r.out, c.port)) << c.text << r.out;
    }
  }
}

TEST(ConfigFile, FaultsAreRefusedWithTheFileAndLine) {
  TempDir dir;
  const std::string ini = dir.path + "/fennwick.ini";
  struct Case {
    std::string text;
    std::string message;  // after "FILE:"
  };
  const Case cases[] = {
      {"port = \"/dev/x\"\nport = /dev/x board 1\n", "2: a value with spaces needs quotes"},
      {"station = line;3\n", "1: a value with ; or # needs quotes"},
      {"station = \"line 3\" x\n", "1: text after the closing quote"},
      {"station = \"line 3\n", "1: a quoted value needs its closing quote"},
      {"port = [\"a\" \"b\"]\n", "1: list items are separated by commas"},
      {"port = [\"a\",\n", "1: a list needs its closing ]"},
      {"station =\n", "1: \"station\" has no value"},
      {"station\n", "1: neither \"key = value\" nor a [section]"},
      {"station = a\x01\n", "1: a control character"},
      {"log_file = /tmp/x\n", "1: unknown key \"log_file\"; the option is \"log-file\""},
      {"Log-File = /tmp/x\n", "1: unknown key \"Log-File\"; the option is \"log-file\""},
      {"bogus-key = 1\n", "1: unknown key \"bogus-key\""},
      {"config = x.ini\n", "1: unknown key \"config\""},
      {"block-timeout = 5\n", "1: \"block-timeout\" is an option of [program] only"},
      {"[program]\nport = /dev/x\n", "2: \"port\" is not an option of [program]; it goes before the first section"},
      {"\n[prgoram]\n", "2: unknown section [prgoram]"},
      {"syslog = yes\n", "1: \"syslog\" takes true or false"},
      {"station = [\"a\", \"b\"]\n", "1: \"station\" takes one value, not a list"},
      {"[program]\nmax-timeouts = many\n", "2: --max-timeouts"},
      {"[program]\nblock-timeout = 0\n", "2: --block-timeout: Value 0 not in range"},
      {"format = elf\n", "1: --format"},
      {"log-file = \"\"\n", "1: --log-file: needs a file name; it was given empty"},
      {"log-file = \"  \"\n", "1: --log-file: needs a file name; it was given blanks only"},
      {"station = \"a\"#c\n", "1: a comment needs a blank before it"},
      {"port = [\"a\"];c\n", "1: a comment needs a blank before it"},
      {"[program]# c\n", "1: a comment needs a blank before it"},
      {"port = [\"a\",]\n", "1: a comma with no list item after it"},
      {"port = []\n", "1: \"port\" is an empty list"},
      {"station = a\n\nstation = b\n", "3: \"station\" is given twice (first on line 1)"},
      {"[examine]\nmcu-version = \"FNW-107\"\n", "2: \"mcu-version\" needs --offline"},
  };
  for (const Case& c : cases) {
    WriteText(ini, c.text);
    const RunResult r = Ports({"--config", ini});
    EXPECT_EQ(r.exitCode, 2) << c.text;
    EXPECT_NE(r.err.find("fennwick-cli: " + ini + ":" + c.message), std::string::npos) << c.text << r.err;
  }
  // The line refuses an empty or blank file name as a file does.
  for (const char* option : {"--log-file", "--config"}) {
    const RunResult r = Ports({option, ""});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find(std::string(option) + ": needs a file name; it was given empty"), std::string::npos) << r.err;
  }
  const RunResult blank = Ports({"--log-file", " \t "});
  EXPECT_NE(blank.err.find("--log-file: needs a file name; it was given blanks only"), std::string::npos) << blank.err;
}

// A FIFO would hold the program before any port is open; a directory or a missing named
// file would leave the settings out without a word. The default paths are taken whole.
TEST(ConfigFile, OnlyRegularFilesAreReadAndDefaultPathsAreNeverSplit) {
  TempDir dir;
  const std::string fifo = dir.path + "/fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string home = dir.path + "/h,x";
  std::filesystem::create_directories(home + "/.config/fennwick");
  std::filesystem::create_directories(dir.path + "/xdg,y/fennwick/fennwick.ini");
  WriteText(home + "/.config/fennwick/fennwick.ini", "port = /dev/from-home\n");
  struct Case {
    std::vector<std::string> args;
    const char* home;
    const char* xdg;
    int code;
    std::string message;
  };
  const std::string xdg = dir.path + "/xdg,y";
  const Case cases[] = {
      {{"--config", fifo}, nullptr, nullptr, 2, "the configuration file " + fifo + " is not a regular file"},
      {{"--config", dir.path}, nullptr, nullptr, 2, "the configuration file " + dir.path + " is not a regular file"},
      {{"--config", dir.path + "/none.ini"}, nullptr, nullptr, 2, "none.ini cannot be read: No such file or directory"},
      {{}, home.c_str(), nullptr, 0, ""},
      {{}, home.c_str(), xdg.c_str(), 2, xdg + "/fennwick/fennwick.ini is not a regular file"},
      {{}, home.c_str(), "relative,z", 0, ""},
  };
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome != nullptr ? oldHome : "";
  for (const Case& c : cases) {
    // Set here rather than through env(1), so that the program is started directly (on a
    // cross build, under its emulator).
    if (c.home != nullptr) ::setenv("HOME", c.home, 1);
    if (c.xdg != nullptr) ::setenv("XDG_CONFIG_HOME", c.xdg, 1);
    if (c.xdg == nullptr) ::unsetenv("XDG_CONFIG_HOME");
    const RunResult r = Ports(c.args);
    EXPECT_EQ(r.exitCode, c.code) << r.err;
    if (c.code == 0) {
      EXPECT_TRUE(MapsTo(r.out, "/dev/from-home")) << r.out;
    } else {
      EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
  }
  ::unsetenv("XDG_CONFIG_HOME");
  if (oldHome != nullptr) ::setenv("HOME", savedHome.c_str(), 1);
}

// The example that the package ships is read as it is, and with every setting it shows
// switched on, so that it cannot fall behind the options.
TEST(ConfigFile, ShippedExampleIsValidAsItIsAndWithEverySettingOn) {
  TempDir dir;
  const std::string example = ReadFile(std::string(FENNWICK_SOURCE_DIR) + "/res/fennwick.example.ini");
  ASSERT_NE(example.find("#[program]"), std::string::npos);
  const std::string on = dir.path + "/on.ini";
  std::string all;
  std::istringstream lines(example);
  for (std::string line; std::getline(lines, line);) {
    const bool setting =
        line.size() > 1 && line[0] == '#' && (std::islower(static_cast<unsigned char>(line[1])) != 0 || line[1] == '[');
    all += (setting ? line.substr(1) : line) + "\n";
  }
  WriteText(on, all);
  for (const std::string& ini : {std::string(FENNWICK_SOURCE_DIR) + "/res/fennwick.example.ini", on}) {
    // The line's record file wins over the example's, which is no path of this machine.
    const RunResult r = RunProgram({BinPath("fennwick-cli"), "--config", ini, "--log-file", dir.path + "/runs.log",
                                    "--json", "check", SamplePath("fennwick-sample.bin")});
    EXPECT_EQ(r.exitCode, 0) << ini << r.err;
  }
}

}  // namespace

}  // namespace fennwick
