// The Windows check's harness: one line per failed expectation, and scratch directories.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>

namespace vlx::check {

// Prints "file:line: what" when ok is false; returns ok.
bool expect(bool ok, const char *file, int line, const std::string &what);

template <class A, class B>
bool expectEqual(const A &actual, const B &expected, const char *file, int line,
                 const std::string &what) {
  if (actual == expected)
    return true;
  std::ostringstream text;
  text << what << ": got \"" << actual << "\", expected \"" << expected << '"';
  return expect(false, file, line, text.str());
}

// Wine says so through an ntdll export that Windows does not have.
bool underWine();

// A new empty directory below the system's temporary directory.
std::string makeScratch(const char *stem);
// The directory and everything below it, read-only entries included.
void removeTree(const std::filesystem::path &path);
// Reports a failure to write; returns whether the file was written.
bool writeFile(const std::filesystem::path &path, const std::string &content);
// "(missing)" when the file cannot be opened.
std::string readFile(const std::string &path);

void checkLibrary();
void checkWildcards();
void checkFiles();
void checkClassIdentifiers();
void checkLanguage(const char *expectedId, const char *expectedSubdir);
void checkVariants();
void checkVarFamily();
void checkSafeArrays();
void checkRegistry();

} // namespace vlx::check

#define EXPECT(ok, what) ::vlx::check::expect((ok), __FILE__, __LINE__, (what))
#define EXPECT_EQ(actual, expected, what)                                                          \
  ::vlx::check::expectEqual((actual), (expected), __FILE__, __LINE__, (what))
