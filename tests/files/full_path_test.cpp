// suFullPath_c: the four parts of typical and border paths, and the constructors.
#include <velmora/files.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <string>

namespace {

struct Parts {
  std::string drive, directory, name, extension;
};

// Each accessor's text and result; the result must say whether the text is empty.
Parts split(suFullPath_c &path) {
  Parts parts;
  CString out("stale");
  struct Accessor {
    int (suFullPath_c::*get)(CString *);
    std::string Parts::*field;
  } accessors[] = {{&suFullPath_c::getDrive, &Parts::drive},
                   {&suFullPath_c::getDirectory, &Parts::directory},
                   {&suFullPath_c::getName, &Parts::name},
                   {&suFullPath_c::getExtension, &Parts::extension}};
  for (const Accessor &a : accessors) {
    out = "stale";
    int result = (path.*a.get)(&out);
    EXPECT_EQ(result, out.IsEmpty() ? 0 : 1);
    parts.*a.field = out.GetString();
  }
  return parts;
}

TEST(FullPathTest, PartsOfTypicalAndBorderPaths) {
  const struct {
    const char *path;
    Parts parts;
  } cases[] = {
      {"C:\\work\\gear.txt", {"C", "C:\\work", "gear", "txt"}},
      {"C:\\gear.txt", {"C", "C:", "gear", "txt"}},
      {"gear.txt", {"", "", "gear", "txt"}},
      {"C:\\work\\", {"C", "C:\\work", "", ""}},
      {"C:\\work\\archive.tar.gz", {"C", "C:\\work", "archive.tar", "gz"}},
      {"C:\\work\\.profile", {"C", "C:\\work", "", "profile"}},
      // The extension is cut from the whole path, the name only from its last component.
      {"C:\\rev1.2\\readme", {"C", "C:\\rev1.2", "readme", "2\\readme"}},
      {"\\\\server\\share\\a.txt", {"", "\\\\server\\share", "a", "txt"}},
      {"C:/work/gear.txt", {"C", "", "C:/work/gear", "txt"}},
      {"C:gear.txt", {"C", "", "C:gear", "txt"}},
      {"", {"", "", "", ""}},
      {"gear.", {"", "", "gear", ""}},
      {"D:\\a:b\\c", {"D", "D:\\a:b", "c", ""}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    suFullPath_c path(c.path);
    Parts first = split(path);
    EXPECT_EQ(first.drive, c.parts.drive);
    EXPECT_EQ(first.directory, c.parts.directory);
    EXPECT_EQ(first.name, c.parts.name);
    EXPECT_EQ(first.extension, c.parts.extension);
    // Accessors leave the text alone, so a second round gives the same parts.
    EXPECT_EQ(CString(path), c.path);
    Parts second = split(path);
    EXPECT_EQ(second.name, first.name);
    EXPECT_EQ(second.extension, first.extension);
  }
}

TEST(FullPathTest, ConstructorsStoreTheTextAsGiven) {
  EXPECT_EQ(CString(suFullPath_c()), "");
  EXPECT_EQ(CString(suFullPath_c(CString("C:\\a\\b.c"))), "C:\\a\\b.c");
  EXPECT_EQ(CString(suFullPath_c('\\', 3)), "\\\\\\");
  EXPECT_EQ(CString(suFullPath_c("C:\\work\\gear.txt", 7)), "C:\\work");
  const unsigned char bytes[] = "C:\\\xE9t\xE9.txt";
  EXPECT_EQ(CString(suFullPath_c(bytes)), "C:\\\xE9t\xE9.txt");

  suFullPath_c original("C:\\x\\y.z");
  suFullPath_c copy(original);
  suFullPath_c assigned;
  assigned = original;
  EXPECT_EQ(CString(copy), "C:\\x\\y.z");
  EXPECT_EQ(CString(assigned), "C:\\x\\y.z");
  const suFullPath_c &self = assigned;
  assigned = self; // self-assignment keeps the text
  EXPECT_EQ(CString(assigned), "C:\\x\\y.z");
}

TEST(FullPathTest, WideTextBecomesNarrow) {
  // C:\é\𝄞.txt: a two-byte, then a surrogate pair; an unpaired surrogate is replaced.
  const unsigned short wide[] = {'C',    ':', '\\', 0x00E9, '\\', 0xD834,
                                 0xDD1E, '.', 't',  'x',    't',  0};
  suFullPath_c path(wide);
  EXPECT_EQ(CString(path), "C:\\\xC3\xA9\\\xF0\x9D\x84\x9E.txt");
  CString name;
  EXPECT_EQ(path.getName(&name), 1);
  EXPECT_EQ(name, "\xF0\x9D\x84\x9E");

  const unsigned short lone[] = {'a', 0xDC00, 'b', 0};
  EXPECT_EQ(CString(suFullPath_c(lone)), "a\xEF\xBF\xBD"
                                         "b");
  const unsigned short empty[] = {0};
  EXPECT_EQ(CString(suFullPath_c(empty)), "");
}

} // namespace
