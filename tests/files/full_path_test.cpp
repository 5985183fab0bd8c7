// suFullPath_c: the four parts of typical and border paths.
#include <velmora/files.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <string>

namespace {

TEST(FullPathTest, PartsOfTypicalAndBorderPaths) {
  using Getter = int (suFullPath_c::*)(CString *);
  const Getter getters[] = {&suFullPath_c::getDrive, &suFullPath_c::getDirectory,
                            &suFullPath_c::getName, &suFullPath_c::getExtension};
  const struct {
    const char *path;
    const char *parts[4]; // drive, directory, name, extension
  } cases[] = {
      {"C:\\gear.txt", {"C", "C:", "gear", "txt"}},
      {"C:\\work\\", {"C", "C:\\work", "", ""}},
      {"C:\\work\\archive.tar.gz", {"C", "C:\\work", "archive.tar", "gz"}},
      {"C:\\work\\.profile", {"C", "C:\\work", "", "profile"}},
      // The extension is cut from the whole path, the name only from its last component.
      {"C:\\rev1.2\\readme", {"C", "C:\\rev1.2", "readme", "2\\readme"}},
      {"\\\\server\\share\\a.txt", {"", "\\\\server\\share", "a", "txt"}},
      // Without a backslash all before the dot is the name ("/tmp/x/gear.txt" in the vlx test).
      {"C:gear.txt", {"C", "", "C:gear", "txt"}},
      {"", {"", "", "", ""}},
  };
  for (const auto &c : cases) {
    suFullPath_c path(c.path);
    for (int i = 0; i < 4; ++i) {
      SCOPED_TRACE(std::string(c.path) + " part " + std::to_string(i));
      CString out("stale");
      EXPECT_EQ((path.*getters[i])(&out), *c.parts[i] ? 1 : 0);
      EXPECT_EQ(out, c.parts[i]);
    }
    // The accessors leave the text alone.
    EXPECT_EQ(CString(path), c.path);
  }
}

} // namespace
