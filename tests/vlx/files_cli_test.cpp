// Process tests of vlx path, ls, temp and backup on a temporary directory.
#include "vlx_fixture.h"

#include <algorithm>
#include <filesystem>
#include <regex>

namespace vlx::cli {
namespace {

namespace fs = std::filesystem;

std::string backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TEST_F(VlxTest, PathShowsTheSplitOfTheTextAsGiven) {
  EXPECT_EQ(ok({"path", "C:\\work\\gear.txt"}),
            "drive:     C\ndirectory: C:\\work\nname:      gear\nextension: txt\n");
}

// Which names match (any case, directories too) is the library's; here the path and the refusals.
TEST_F(VlxTest, LsListsMatchesWhateverTheSeparators) {
  write("gear.txt", "");
  write("plan.dat", "");
  EXPECT_EQ(ok({"ls", backslashed(dir_.path()), "txt"}), "gear.txt\n");
  fails({"ls", dir_.file("missing"), "txt"}, "no such directory");
  // One name a line however it is spelled; -0 gives the names raw.
  fs::create_directory(dir_.file("odd"));
  const std::string odd = dir_.file("odd/");
  write("odd/two\nlines.txt", "");
  write("odd/\x1b[31mred.txt", "");
  EXPECT_EQ(ok({"ls", odd, "txt"}), "$'\\033''[31mred.txt'\n'two'$'\\n''lines.txt'\n");
  std::string raw = ok({"ls", odd, "txt", "--null"});
  EXPECT_TRUE(raw == "two\nlines.txt" + std::string(1, '\0') + "\x1b[31mred.txt" + '\0' ||
              raw == "\x1b[31mred.txt" + std::string(1, '\0') + "two\nlines.txt" + '\0')
      << raw;
  fails({"ls", write("notes", ""), "txt"}, "not a directory");
}

TEST_F(VlxTest, BackupMakeThenResolve) {
  const std::string gear = write("gear.txt", "v1");
  const std::string backup = dir_.file("Backup of gear.txt");
  EXPECT_EQ(ok({"backup", "resolve", gear}), gear + "\n");
  EXPECT_EQ(ok({"backup", "make", gear}), backup + "\n");
  EXPECT_EQ(readFile(backup), "v1");
  // Backslashes reach the same file; output comes back with '/'.
  EXPECT_EQ(ok({"backup", "resolve", backslashed(gear)}), backup + "\n");
  fails({"backup", "resolve", dir_.file(std::string(5000, 'x') + ".txt")}, "longer than");

  // What a read-only backup keeps is the library's; here the message.
  fs::permissions(backup, fs::perms::owner_write, fs::perm_options::remove);
  fails({"backup", "make", gear}, "access denied");
  fails({"backup", "make", dir_.file("missing.txt")}, "no such file");
  fs::create_directory(dir_.file("sub.txt"));
  fails({"backup", "make", dir_.file("sub.txt")}, "it is a directory");
  fails({"backup", "make", write("notes", "")}, "no extension");
}

TEST_F(VlxTest, BackupCountOtherThanOneMakesNoCopy) {
  const std::string gear = write("gear.txt", "v1");
  ok({"pref", "set", "General", "Backup Copies", "0", "--type", "int"});
  fails({"backup", "make", gear}, "backups are off");
  EXPECT_FALSE(fs::exists(dir_.file("Backup of gear.txt")));
  EXPECT_EQ(ok({"backup", "resolve", gear}), gear + "\n");
}

TEST_F(VlxTest, TempPrintsTheScratchDirectoryItMade) {
  // The scratch base variables unset in every spelling: TMPDIR, the test's directory, serves.
  test::ScopedEnv temp("temp", nullptr), upperTemp("TEMP", nullptr), tmp("tmp", nullptr),
      upperTmp("TMP", nullptr), runtime("XDG_RUNTIME_DIR", nullptr),
      tmpDir("TMPDIR", dir_.path().c_str());
  const std::string made = ok({"temp"});
  ASSERT_EQ(made.rfind(dir_.path(), 0), 0u) << made;
  EXPECT_TRUE(std::regex_match(made.substr(dir_.path().size()), std::regex("/vlx[0-9]+/\n")))
      << made;

  const std::string base = dir_.file("base");
  test::ScopedEnv setBase("temp", base.c_str());
  fails({"temp"}, "cannot be created");
  fs::create_directory(base);
  // Anyone may rename what lies in it: the directory made there is not handed out.
  fs::permissions(base, fs::perms::all);
  fails({"temp"}, "where other users may rename it");
  fs::permissions(base, fs::perms::owner_all);
  // A run prints <base>/vlx<pid>/ and the name given, having made only the directory.
  const std::string named = ok({"temp", "gear.tmp"});
  ASSERT_EQ(named.rfind(base, 0), 0u) << named;
  EXPECT_TRUE(std::regex_match(named.substr(base.size()), std::regex("/vlx[0-9]+/gear\\.tmp\n")))
      << named;
  EXPECT_TRUE(fs::is_directory(named.substr(0, named.rfind('/')))) << named;
  EXPECT_FALSE(fs::exists(named.substr(0, named.size() - 1)));
}

} // namespace
} // namespace vlx::cli
