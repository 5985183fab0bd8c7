// Names without regard to case, as Windows compares them: the folded units, the stored form of
// registry names and its order.
#include "platform/posix/name_fold.h"
#include "platform/posix/registry/key_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using vlx::foldedUnits;
using vlx::foldName;
using vlx::kRawByte;
using vlx::sameFolded;

TEST(NameFold, LettersUpperCaseOneUnitAtATime) {
  struct Case {
    const char *name;
    std::u32string folded;
  } cases[] = {
      {"Gear_1.txt", U"GEAR_1.TXT"},
      {"caf\xc3\xa9 \xc3\xbf", U"CAF\u00c9 \u0178"},                     // Latin-1
      {"\xce\xb1\xce\xb2\xcf\x82\xce\xac", U"\u0391\u0392\u03a3\u0386"}, // Greek, final sigma
      {"\xd0\xb6\xd1\x91\xd0\xbb\xd1\x82", U"\u0416\u0401\u041b\u0422"}, // Cyrillic
      {"Ma\xc3\x9f", U"MA\u00df"},                                       // sharp s stays
      {"\xc7\x85\xc7\x86\xc7\x84", U"\u01c4\u01c4\u01c4"},               // titlecase dz
      {"\xef\xbd\x81", U"\uff21"},                                       // fullwidth a
      // Beyond the basic plane: the surrogate pair, not folded (Deseret small long i).
      {"\xf0\x90\x90\xa8", U"\xd801\xdc28"},
      // Bytes that are not UTF-8, each its own: Latin-1, cut short, overlong, a surrogate.
      {"\xe9", {kRawByte + 0xe9}},
      {"a\xc3", {U'A', kRawByte + 0xc3}},
      {"\xc0\x80", {kRawByte + 0xc0, kRawByte + 0x80}},
      {"\xed\xa0\x80z", {kRawByte + 0xed, kRawByte + 0xa0, kRawByte + 0x80, U'Z'}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(foldedUnits(c.name), c.folded);
  }
}

TEST(NameFold, SameNamesAndDistinctOnes) {
  const std::tuple<const char *, const char *, bool> cases[] = {
      {"Software", "SOFTWARE", true},
      {"\xc3\x84rger", "\xc3\xa4RGER", true},                         // Ärger
      {"\xcf\x83\xce\xbf\xcf\x86", "\xce\xa3\xce\x9f\xce\xa6", true}, // σοφ
      {"Stra\xc3\x9f"
       "e",
       "STRASSE", false},                              // no full mapping
      {"\xc4\xb1", "I", true},                         // dotless i upper-cases to I
      {"\xf0\x90\x90\xa8", "\xf0\x90\x90\x80", false}, // Deseret: Windows keeps case
      {"\xe9", "\xc9", false},                         // Latin-1 bytes are not letters
      {"\xe9", "\xc3\xa9", false},
      {"a\xff", "A\xff", true},
      {"", "", true},
  };
  for (auto [a, b, same] : cases) {
    SCOPED_TRACE(std::string(a) + " / " + b);
    EXPECT_EQ(sameFolded(a, b), same);
    EXPECT_EQ(foldName(a) == foldName(b), same);
  }
}

// The stored form orders as Windows enumerates: by upper-cased UTF-16 units, where a character
// beyond the basic plane (a surrogate pair) comes before U+E000..U+FFFF, unlike in UTF-8.
TEST(NameFold, StoredFormOrdersAsUpperCasedUtf16) {
  const std::vector<std::string> windowsOrder = {
      "",
      "a",
      "ab",
      "Z",
      "_",
      "\xc3\xa9",         // É
      "\xf0\x9f\x98\x80", // U+1F600
      "\xee\x80\x80",     // U+E000
      "\xef\xbc\xa1",     // fullwidth A
  };
  std::vector<std::string> stored;
  for (const std::string &name : windowsOrder)
    stored.push_back(foldName(name));
  EXPECT_TRUE(std::is_sorted(stored.begin(), stored.end()));
  EXPECT_EQ(std::adjacent_find(stored.begin(), stored.end()), stored.end());
  // Names that are not UTF-8 never meet a valid one, not even a surrogate pair's trail.
  EXPECT_NE(foldName("\xf0\x90\x82\x80"), foldName("\xed\xa0\x80\x80"));
  EXPECT_NE(foldName("a\x80"), foldName("a\xc2\x80"));

  // Folded into one buffer after another, as look-ups do, each comes out as on its own.
  std::string reused;
  for (const std::string &name : windowsOrder)
    for (const std::string &after : {std::string("a much longer name"), name}) {
      foldName(std::string("\xc3\xa9") + after, &reused);
      EXPECT_EQ(reused, foldName(std::string("\xc3\xa9") + after)) << after;
      foldName(after, &reused);
      EXPECT_EQ(reused, foldName(after)) << after;
    }
}

} // namespace
