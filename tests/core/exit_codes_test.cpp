#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <vector>

#include "fakes/temp_dir.h"
#include "link/exit_codes.h"

namespace fennwick {
namespace {

std::string SourceText(const std::string& name) {
  const std::string text = ReadFile(std::string(FENNWICK_SOURCE_DIR) + "/" + name);
  EXPECT_FALSE(text.empty()) << name;
  return text;
}

// Scripts read the codes and words from the documentation of the JSON document and --help;
// all of them come from one table.
TEST(ExitCodes, EveryCodeHasOneWordThatTheReadmeAndTheHelpGive) {
  const std::string readme = SourceText("docs/production-line.md");
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

// The README's list names every code of the table, in order, and no other: a code added to
// one and not the other fails here.
TEST(ExitCodes, TheReadmeListsExactlyTheTablesCodes) {
  std::string text = SourceText("README.md");
  const size_t from = text.find("\n## Exit codes\n");
  ASSERT_NE(from, std::string::npos);
  const size_t list = text.find(" exit codes: ", from);
  const size_t end = text.find(". With several ports", from);
  ASSERT_LT(list, end);
  text = std::regex_replace(text.substr(list, end - list), std::regex("\\s+"), " ");
  std::vector<int> listed;
  const std::regex item("(?:: |, )(\\d+) ");
  for (std::sregex_iterator it(text.begin(), text.end(), item), last; it != last; ++it) {
    listed.push_back(std::stoi((*it)[1].str()));
  }
  std::vector<int> table;
  for (const ExitCodeInfo& entry : ExitCodes()) table.push_back(entry.code);
  EXPECT_EQ(listed, table);
}

}  // namespace
}  // namespace fennwick
