// Wildcard matching by the Windows rules: the pattern rewrite and the matches it gives.
#include "platform/posix/files/wildcard.h"

#include <gtest/gtest.h>

#include <string>

using vlx::posix::dosExpression;
using vlx::posix::wildcardMatch;

namespace {

TEST(Wildcard, PatternsAreRewrittenAsADirectorySearchDoes) {
  struct Case {
    const char *pattern;
    const char *expression;
  } cases[] = {
      {"*.*", "*"},      {"*", "*"},         {"*.", "<\""},     {"?.?", ">\">"},
      {"a*.*", "A<\"*"}, {"*.txt", "<.TXT"}, {"abc.", "ABC\""}, {"*.*.", "<\"<\""},
      {"a.b", "A.B"},    {"x*y", "X*Y"},     {"..", ".\""},     {"f?.c*", "F>.C*"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(dosExpression(c.pattern), c.expression);
  }
}

TEST(Wildcard, NamesMatchByTheDosRulesWithoutRegardToCase) {
  struct Case {
    const char *pattern;
    const char *name;
    bool matches;
  } cases[] = {
      // A final "*." is the names without an extension.
      {"*.", "notes", true},
      {"*.", "a.txt", false},
      {"*.", "archive.tar.gz", false},
      {"*.", ".", true},
      {"*.", "..", true},
      // "*.*" is every name, with or without an extension.
      {"*.*", "notes", true},
      {"*.*", "a.b.c", true},
      {"*.*.", "a.b", true},
      {"*.*.", "notes", true},
      // "?" is one character, or none at a dot or at the end.
      {"?.?", "a.b", true},
      {"?.?", "a", true},
      {"?.?", "ab", false},
      {"?.?", "a.bc", false},
      {"a??", "a", true},
      {"a??", "abc", true},
      {"a??", "abcd", false},
      {"a??", "a.b", false},
      {"??.txt", "a.txt", true},
      {"??.txt", "abc.txt", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
      {"a?c", "a.c", false},
      {"*.?", "a.b", true},
      {"*.?", "a", true},
      {"*.?", "a.bc", false},
      // A dot before "*" may also be the end of the name.
      {"a*.*", "a", true},
      {"a*.*", "abc", true},
      {"a*.*", "A.TXT", true},
      {"a*.*", "ba.txt", false},
      {"file.*", "file", true},
      {"file.*", "file.txt", true},
      {"file.*", "files", false},
      // The extension is what follows the last dot.
      {"*.txt", "A.TXT", true},
      {"*.TXT", "notes.txt", true},
      {"*.txt", "a.b.txt", true},
      {"*.txt", ".txt", true},
      {"*.txt", "a.txt.bak", false},
      {"*.txt", "txt", false},
      {"*.txt", "a.txtx", false},
      // A final dot matches the name without it.
      {"abc.", "abc", true},
      {"abc.", "abcd", false},
      {"abc.", "abc.d", false},
      // Plain stars, and names without wildcards.
      {"*", "anything.at.all", true},
      {"*a", "banana", true},
      {"*a*", "xyz", false},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbY", false},
      {"Gear.TXT", "gear.txt", true},
      {"gear.txt", "gear.txt2", false},
      {"", "a", false},
      // Only ASCII letters fold.
      {"\xc3\xa9.txt", "\xc3\x89.txt", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
    EXPECT_EQ(wildcardMatch(c.pattern, c.name), c.matches);
  }
}

TEST(Wildcard, LongPatternsAndManyStarsMatchWithoutBacktracking) {
  std::string longPattern = "*" + std::string(100, 'a') + "*";
  EXPECT_TRUE(wildcardMatch(longPattern, std::string(150, 'a')));
  EXPECT_FALSE(wildcardMatch(longPattern, std::string(99, 'a') + "b" + std::string(50, 'a')));
  // Exponential for a naive backtracker; one pass over the states here.
  std::string stars;
  for (int i = 0; i < 30; ++i)
    stars += "*a";
  EXPECT_FALSE(wildcardMatch(stars + "b", std::string(200, 'a')));
  EXPECT_TRUE(wildcardMatch(stars, std::string(200, 'a')));
}

} // namespace
