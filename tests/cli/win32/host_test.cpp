// Where the Windows build looks for its configuration, and what it has no system log for.
#include <gtest/gtest.h>

#include <cstdlib>

#include "cli/verbs/host.h"

namespace fennwick {

namespace {

TEST(Win32Host, ConfigurationLivesUnderTheUsersAndTheMachinesDataFolders) {
  struct Case {
    const char* appData;
    const char* programData;
    std::vector<std::string> paths;
  };
  const Case cases[] = {
      {"C:\\Users\\op\\AppData\\Roaming", "C:\\ProgramData",
       {"C:\\Users\\op\\AppData\\Roaming\\fennwick\\fennwick.ini", "C:\\ProgramData\\fennwick\\fennwick.ini"}},
      {"relative\\folder", "C:\\ProgramData", {"C:\\ProgramData\\fennwick\\fennwick.ini"}},
      {"", "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.appData);
    _putenv_s("APPDATA", c.appData);
    _putenv_s("PROGRAMDATA", c.programData);
    EXPECT_EQ(DefaultConfigPaths(), c.paths);
  }
}

}  // namespace

}  // namespace fennwick
