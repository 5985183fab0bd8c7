// The shared wildcard table against the system's own directory search: Windows is the
// reference that the POSIX matcher follows.
#include "check.h"
#include "support/wildcard_cases.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace vlx::check {

namespace {

struct Known {
  const char *pattern;
  const char *name;
  const char *reason;
};

// Wine's matcher knows plain "*" and "?" only, not the DOS forms Windows turns a final "*.",
// "?" and "." into (FsRtlIsNameInExpression: DOS_STAR, DOS_QM, DOS_DOT): not judged under Wine.
const Known wineDeviations[] = {
    {"*.", "a.txt", "Wine: \"*.\" is \"*\""},
    {"*.", "archive.tar.gz", "Wine: \"*.\" is \"*\""},
    {"* .", "a.txt", "Wine: \"*.\" is \"*\""},
    {"*. .", "a.txt", "Wine: \"*.\" is \"*\""},
    {"?.?", "a", "Wine: \"?\" is always one character"},
    {"a??", "a", "Wine: \"?\" is always one character"},
    {"a??", "a.b", "Wine: \"?\" matches a dot"},
    {"??.txt", "a.txt", "Wine: \"?\" is always one character"},
    {"a?c", "a.c", "Wine: \"?\" matches a dot"},
};

// Where the POSIX matcher differs from Windows on purpose: reported, not failed.
const Known tableDifferences[] = {
    {"*.TXT", "a.txtx",
     "the search also matches the 8.3 name (A~1.TXT) where the volume makes them; POSIX has none"},
};

template <size_t N>
const Known *lookUp(const Known (&list)[N], const char *pattern, const char *name) {
  for (const Known &known : list)
    if (!std::strcmp(known.pattern, pattern) && !std::strcmp(known.name, name))
      return &known;
  return nullptr;
}

// Whether a search for `pattern` in `dir` returns `name`.
bool listed(const std::filesystem::path &dir, const std::string &pattern,
            const std::wstring &name) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW((dir / std::filesystem::u8path(pattern)).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE)
    return false;
  bool found = false;
  do
    found = found || name == data.cFileName;
  while (FindNextFileW(search, &data));
  FindClose(search);
  return found;
}

} // namespace

// Each name gets a directory of its own, so that names equal but for case never meet; "." and
// ".." are in every directory already.
void checkWildcards() {
  const std::filesystem::path root = makeScratch("wildcards");
  const bool wine = underWine();
  int index = 0;
  for (const auto &[pattern, matches, misses] : vlx::test::wildcardCases())
    for (bool expected : {true, false})
      for (const char *name : expected ? matches : misses) {
        const std::string what = std::string("\"") + pattern + "\" ~ \"" + name + "\"";
        if (const Known *known = wine ? lookUp(wineDeviations, pattern, name) : nullptr) {
          std::printf("skipped under Wine: %s: %s\n", what.c_str(), known->reason);
          continue;
        }
        // Wine's matcher takes the DOS forms literally and lists ".." only as itself.
        if (wine && (std::strpbrk(pattern, "<>\"") || std::strcmp(name, "..") == 0)) {
          std::printf("skipped under Wine: %s: Wine: no DOS_STAR, DOS_QM, DOS_DOT\n", what.c_str());
          continue;
        }
        const std::filesystem::path dir = root / std::to_string(index++);
        const std::wstring wideName = std::filesystem::u8path(name).wstring();
        std::filesystem::create_directory(dir);
        if (wideName != L"." && wideName != L".." && !writeFile(dir / wideName, ""))
          continue;
        const bool found = listed(dir, pattern, wideName);
        const Known *differs = lookUp(tableDifferences, pattern, name);
        if (found != expected && differs)
          std::printf("differs from the table: %s: %s\n", what.c_str(), differs->reason);
        else
          EXPECT(found == expected, "wildcards: " + what +
                                        (found ? " matches" : " does not match") +
                                        " on Windows, the table says otherwise");
        removeTree(dir);
      }
  // Patterns whose trailing dots and spaces the search drops first.
  for (const auto &[pattern, matches, misses] : vlx::test::searchCases())
    for (bool expected : {true, false})
      for (const char *name : expected ? matches : misses) {
        const std::string what = std::string("\"") + pattern + "\" ~ \"" + name + "\"";
        const std::filesystem::path dir = root / std::to_string(index++);
        std::filesystem::create_directory(dir);
        const std::wstring wideName = std::filesystem::u8path(name).wstring();
        if (!writeFile(dir / wideName, ""))
          continue;
        const bool found = listed(dir, pattern, wideName);
        if (found != expected && wine && lookUp(wineDeviations, pattern, name))
          std::printf("differs under Wine: %s\n", what.c_str());
        else
          EXPECT(found == expected, "search: " + what + (found ? " matches" : " does not match") +
                                        " on Windows, the table says otherwise");
        removeTree(dir);
      }
  removeTree(root);
}

} // namespace vlx::check
