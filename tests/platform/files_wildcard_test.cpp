// Wildcard matching of names by the Windows rules.
#include "platform/posix/files/wildcard.h"
#include "support/wildcard_cases.h"

#include <gtest/gtest.h>

#include <string>

using vlx::posix::wildcardMatch;

namespace {

TEST(Wildcard, NamesMatchByTheWindowsRulesWithoutRegardToCase) {
  for (const auto &[pattern, matches, misses] : vlx::test::wildcardCases())
    for (bool expected : {true, false})
      for (const char *name : expected ? matches : misses) {
        SCOPED_TRACE(std::string(pattern) + " ~ " + name);
        EXPECT_EQ(wildcardMatch(pattern, name), expected);
      }
}

TEST(Wildcard, BytesThatAreNotUtf8StandForThemselves) {
  // Latin-1 e acute: one character for "?", and no folding against its upper case.
  EXPECT_TRUE(wildcardMatch("?.txt", "\xe9.txt"));
  EXPECT_FALSE(wildcardMatch("\xe9.txt", "\xc9.txt"));
  // A cut-off sequence and an encoded surrogate are bytes, not characters.
  EXPECT_TRUE(wildcardMatch("a??", "a\xc3"));
  EXPECT_FALSE(wildcardMatch("?", "\xed\xa0\x80"));
}

TEST(Wildcard, ManyStarsMatchWithoutBacktracking) {
  // Exponential for a naive backtracker; long enough for the large state buffer.
  std::string stars;
  for (int i = 0; i < 40; ++i)
    stars += "*a";
  EXPECT_TRUE(wildcardMatch(stars, std::string(200, 'a')));
  EXPECT_FALSE(wildcardMatch(stars + "b", std::string(200, 'a')));
}

} // namespace
