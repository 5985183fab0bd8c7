// Names and the wildcard patterns they match by the Windows rules, as UTF-8: the table the POSIX
// matcher's test and the check run on Windows (tests/windows/) both read.
#pragma once

#include <vector>

namespace vlx::test {

struct WildcardCase {
  const char *pattern;
  std::vector<const char *> matches; // names the pattern matches
  std::vector<const char *> misses;  // names it does not
};

inline const std::vector<WildcardCase> &wildcardCases() {
  static const std::vector<WildcardCase> cases = {
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
      // ".." matches as "." does; "?" at a dot takes it when nothing else follows.
      {"?", {".", "..", "a"}, {"ab", "a.b"}},
      {"?.", {".", "..", "a"}, {"ab"}},
      {">", {".", ".."}, {"ab"}},
      {">.", {".", ".."}, {"ab"}},
      {"<.<.<", {"a.b.c"}, {".", ".."}},
      {"..<", {"..a"}, {".."}},
      // DOS_STAR takes the name's last dot too, and a second one the rest.
      {"<<", {"a.a", "..", "ea.tmp.tmp", "ea"}, {}},
      {"<<.", {"a.a", "..", "ea"}, {}},
      {"<a", {".a.a", "ea"}, {"ea.tmp"}},
      {"<", {"ea"}, {"ea.tmp", ".a.a"}},
      // Every letter folds; "?" takes one UTF-16 unit, however many bytes it is in UTF-8.
      {"\xc3\xa9.txt", {"\xc3\x89.txt"}, {"e.txt"}},
      {"\xd0\xb0*", {"\xd0\x90\xd0\x91"}, {"a"}},
      {"?.TXT", {"\xc3\xa9.txt"}, {"\xc3\xa9\xc3\xa9.txt", "\xf0\x9f\x93\x84.txt"}},
      {"??.TXT", {"\xf0\x9f\x93\x84.txt"}, {}},
      // Beyond the basic plane nothing folds (Deseret small and capital long i).
      {"\xf0\x90\x90\xa8", {}, {"\xf0\x90\x90\x80"}},
  };
  return cases;
}

// Patterns as a directory search takes them, whose last component loses its trailing dots and
// spaces first: one final dot stays where the pattern ends in a dot, so "* ." is "*." and
// "*. " is "*" (Wine's test_FindFirstFile_wildcards).
inline const std::vector<WildcardCase> &searchCases() {
  static const std::vector<WildcardCase> cases = {
      {"*. ", {"a.txt", "notes"}, {}},  {"* .", {"notes"}, {"a.txt"}},
      {"*.. ", {"a.txt", "notes"}, {}}, {"* . ", {"a.txt"}, {}},
      {"*. .", {"notes"}, {"a.txt"}},   {"..* ", {"..a"}, {"a"}},
  };
  return cases;
}

} // namespace vlx::test
