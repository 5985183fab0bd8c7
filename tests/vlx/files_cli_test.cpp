// Process tests of vlx path, ls, temp and backup on a temporary directory.
#include "vlx_fixture.h"

#include <algorithm>
#include <filesystem>

namespace vlx::cli {
namespace {

namespace fs = std::filesystem;

std::string backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TEST_F(VlxTest, PathShowsTheSplitOfTheTextAsGiven) {
  const std::pair<const char *, const char *> cases[] = {
      {"C:\\work\\gear.txt",
       "drive:     C\ndirectory: C:\\work\nname:      gear\nextension: txt\n"},
      // No slash conversion here: '/' is an ordinary character to the library.
      {"/tmp/x/gear.txt", "drive:\ndirectory:\nname:      /tmp/x/gear\nextension: txt\n"},
      {"C:\\rev1.2\\readme",
       "drive:     C\ndirectory: C:\\rev1.2\nname:      readme\nextension: 2\\readme\n"},
  };
  for (const auto &[path, shown] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(ok({"path", path}), shown);
  }
}

TEST_F(VlxTest, LsListsMatchesWhateverTheSeparators) {
  write("gear.txt", "");
  write("notes.TXT", "");
  write("plan.dat", "");
  fs::create_directory(dir_.file("sub.txt"));
  std::string out = ok({"ls", backslashed(dir_.path()), "txt"});
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
    lines.push_back(out.substr(at, end - at));
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{"gear.txt", "notes.TXT", "sub.txt"})) << out;
  fails({"ls", dir_.file("missing"), "txt"}, "no such directory");
  fails({"ls", write("notes", ""), "txt"}, "not a directory");
}

TEST_F(VlxTest, BackupMakeThenResolve) {
  const std::string gear = write("gear.txt", "v1");
  const std::string backup = dir_.file("Backup of gear.txt");
  EXPECT_EQ(ok({"backup", "resolve", gear}), gear + "\n");
  EXPECT_EQ(ok({"backup", "make", gear}), backup + "\n");
  EXPECT_EQ(read(backup), "v1");
  // Backslashes reach the same file; output comes back with '/'.
  EXPECT_EQ(ok({"backup", "resolve", backslashed(gear)}), backup + "\n");

  write("gear.txt", "v2");
  RunResult r = test::runCommand(
      {"/bin/sh", "-c", "cd '" + dir_.path() + "' && '" VLX_BINARY "' backup make gear.txt"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "./Backup of gear.txt\n"); // a bare name stays in the working directory
  EXPECT_EQ(read(backup), "v2");

  // A read-only backup refuses both the deletion and the overwrite, and stays as it was.
  write("gear.txt", "v3");
  fs::permissions(backup, fs::perms::owner_write, fs::perm_options::remove);
  fails({"backup", "make", gear}, "access denied");
  EXPECT_EQ(read(backup), "v2");
  EXPECT_EQ(read(gear), "v3");
  fails({"backup", "make", dir_.file("missing.txt")}, "no such file");
  fs::create_directory(dir_.file("sub.txt"));
  fails({"backup", "make", dir_.file("sub.txt")}, "it is a directory");
  fails({"backup", "make", write("notes", "")}, "no extension");
}

TEST_F(VlxTest, BackupCountOtherThanOneMakesNoCopy) {
  const std::string gear = write("gear.txt", "v1");
  for (const auto &[count, message] : {std::pair{"0", "backups are off"}, {"2", "is 2"}}) {
    SCOPED_TRACE(count);
    ok({"pref", "set", "General", "Backup Copies", count, "--type", "int"});
    fails({"backup", "make", gear}, message);
    EXPECT_FALSE(fs::exists(dir_.file("Backup of gear.txt")));
    EXPECT_EQ(ok({"backup", "resolve", gear}), gear + "\n");
  }
}

TEST_F(VlxTest, TempPrintsTheScratchDirectoryItMade) {
  // The scratch base variables unset in every spelling; TMPDIR points into the test's directory.
  test::ScopedEnv temp("temp", nullptr), upperTemp("TEMP", nullptr), tmp("tmp", nullptr),
      upperTmp("TMP", nullptr), tmpDir("TMPDIR", dir_.path().c_str());
  fails({"temp"}, "neither temp nor tmp is set");
  const std::string base = dir_.file("base");
  test::ScopedEnv setBase("temp", base.c_str());
  fails({"temp", "gear.tmp"}, "cannot create the scratch directory");
  fs::create_directory(base);
  // The directory of a printed <base>/vlx<pid>/<file> line.
  auto scratch = [&](const std::string &out, const std::string &file) {
    const std::string tail = "/" + file + "\n";
    EXPECT_EQ(out.rfind(base + "/vlx", 0), 0u) << out;
    EXPECT_GT(out.size(), base.size() + tail.size()) << out;
    EXPECT_EQ(out.find(tail, base.size()), out.size() - tail.size()) << out;
    return out.substr(0, out.size() - std::min(out.size(), tail.size()));
  };
  std::string made = scratch(ok({"temp"}), "");
  EXPECT_TRUE(fs::is_directory(made)) << made;
  std::string other = scratch(ok({"temp", "gear.tmp"}), "gear.tmp");
  EXPECT_NE(other, made); // another process, another directory
  EXPECT_TRUE(fs::is_directory(other)) << other;
  EXPECT_FALSE(fs::exists(other + "/gear.tmp"));
}

} // namespace
} // namespace vlx::cli
