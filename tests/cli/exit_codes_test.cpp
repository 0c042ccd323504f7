#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "cli/exit_codes.h"

namespace fennwick {
namespace {

// Scripts read the codes and words from the documentation of the JSON document and --help;
// all of them come from one table.
TEST(ExitCodes, EveryCodeHasOneWordThatTheReadmeAndTheHelpGive) {
  std::ifstream in(std::string(FENNWICK_SOURCE_DIR) + "/docs/production-line.md");
  ASSERT_TRUE(in);
  const std::string readme((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string help = ExitStatusHelp();
  EXPECT_EQ(help.rfind("Exit status:\n", 0), 0u);
  std::set<std::string> words;
  for (const ExitCodeInfo& entry : ExitCodes()) {
    const std::string word = entry.word;
    EXPECT_TRUE(words.insert(word).second) << word << " names two codes";
    EXPECT_EQ(ResultWord(entry.code), word);
    const std::string inReadme = entry.code == kExitOk ? "`ok`" : "`" + word + "` (" + std::to_string(entry.code) + ")";
    EXPECT_NE(readme.find(inReadme), std::string::npos) << inReadme << " is not in the README's list";
    const std::string code = std::to_string(entry.code);
    EXPECT_NE(help.find("\n  " + code + std::string(4 - code.size(), ' ') + word + ": "), std::string::npos) << word;
  }
  EXPECT_STREQ(ResultWord(-1), "failed");
}

}  // namespace
}  // namespace fennwick
