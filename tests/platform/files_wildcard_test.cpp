// Wildcard matching of names by the Windows rules.
#include "platform/posix/files/wildcard.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

using vlx::posix::wildcardMatch;

namespace {

TEST(Wildcard, NamesMatchByTheWindowsRulesWithoutRegardToCase) {
  using Names = std::vector<const char *>;
  const std::tuple<const char *, Names, Names> cases[] = {
      // pattern, names it matches, names it does not
      // A final "*." is the names without an extension.
      {"*.", {"notes", ".", ".."}, {"a.txt", "archive.tar.gz"}},
      {"*.*", {"notes", "a.b.c"}, {}},
      {"*.*.", {"a.b", "notes"}, {}},
      // "?" is one character, or none at a dot or at the end.
      {"?.?", {"a.b", "a"}, {"ab", "a.bc"}},
      {"a??", {"a", "abc"}, {"abcd", "a.b"}},
      {"??.txt", {"a.txt"}, {"abc.txt"}},
      {"a?c", {"abc"}, {"ac", "a.c"}},
      // A dot before "*" may also be the end of the name.
      {"a*.*", {"a", "abc", "A.TXT"}, {"ba.txt"}},
      {"file.*", {"file", "file.txt"}, {"files"}},
      // The extension is what follows the last dot.
      {"*.TXT", {"a.txt", "a.b.txt", ".txt"}, {"a.txt.bak", "txt", "a.txtx"}},
      {"abc.", {"abc"}, {"abcd", "abc.d"}},
      {"a*b*c", {"aXbYc"}, {"aXbY"}},
      {"Gear.TXT", {"gear.txt"}, {"gear.txt2"}},
      {"", {}, {"a"}},
      // Only ASCII letters fold.
      {"\xc3\xa9.txt", {}, {"\xc3\x89.txt"}},
  };
  for (const auto &[pattern, matches, misses] : cases)
    for (bool expected : {true, false})
      for (const char *name : expected ? matches : misses) {
        SCOPED_TRACE(std::string(pattern) + " ~ " + name);
        EXPECT_EQ(wildcardMatch(pattern, name), expected);
      }
}

TEST(Wildcard, ManyStarsMatchWithoutBacktracking) {
  // Exponential for a naive backtracker; long enough for the large state buffer.
  std::string stars;
  for (int i = 0; i < 40; ++i)
    stars += "*a";
  EXPECT_TRUE(wildcardMatch(stars, std::string(200, 'a')));
  EXPECT_FALSE(wildcardMatch(stars + "b", std::string(200, 'a')));
  EXPECT_FALSE(wildcardMatch(stars, std::string(39, 'a')));
}

} // namespace
