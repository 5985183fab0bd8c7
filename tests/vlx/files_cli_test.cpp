// Process tests of vlx path, ls, temp and backup on a temporary directory.
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vlx::cli {
namespace {

using test::RunResult;
using test::ScopedEnv;
namespace fs = std::filesystem;

class VlxFilesTest : public test::TempEnvTest {
protected:
  RunResult vlx(std::vector<std::string> args) {
    args.insert(args.begin(), VLX_BINARY);
    return test::runCommand(args);
  }

  std::string ok(const std::vector<std::string> &args) {
    RunResult r = vlx(args);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
  }

  // Exit 1 and exactly one "vlx: ..." line that holds `part`.
  void fails(const std::vector<std::string> &args, const std::string &part) {
    RunResult r = vlx(args);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_EQ(r.output.rfind("vlx: ", 0), 0u) << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
    EXPECT_NE(r.output.find(part), std::string::npos) << r.output;
  }

  std::string write(const std::string &name, const std::string &text) {
    std::string path = dir_.file(name);
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  static std::string read(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
};

std::vector<std::string> sortedLines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TEST_F(VlxFilesTest, PathShowsTheSplitOfTheTextAsGiven) {
  struct Case {
    const char *path;
    const char *shown;
  };
  const Case cases[] = {
      {"C:\\work\\gear.txt",
       "drive:     C\ndirectory: C:\\work\nname:      gear\nextension: txt\n"},
      {"gear.txt", "drive:\ndirectory:\nname:      gear\nextension: txt\n"},
      // No slash conversion here: '/' is an ordinary character to the library.
      {"/tmp/x/gear.txt", "drive:\ndirectory:\nname:      /tmp/x/gear\nextension: txt\n"},
      {"C:\\work\\", "drive:     C\ndirectory: C:\\work\nname:\nextension:\n"},
      {"C:\\rev1.2\\readme",
       "drive:     C\ndirectory: C:\\rev1.2\nname:      readme\nextension: 2\\readme\n"},
      {"", "drive:\ndirectory:\nname:\nextension:\n"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ok({"path", c.path}), c.shown);
  }
}

TEST_F(VlxFilesTest, LsListsMatchesWhateverTheSeparators) {
  write("gear.txt", "");
  write("notes.TXT", "");
  write("plan.dat", "");
  write("readme", "");
  fs::create_directory(dir_.file("sub.txt"));
  const std::vector<std::string> expected = {"gear.txt", "notes.TXT", "sub.txt"};
  for (const std::string &dir : {dir_.path(), dir_.path() + "/", backslashed(dir_.path())}) {
    SCOPED_TRACE(dir);
    EXPECT_EQ(sortedLines(ok({"ls", dir, "txt"})), expected);
  }
  EXPECT_EQ(ok({"ls", dir_.path(), "pdf"}), "");
}

TEST_F(VlxFilesTest, BackupMakeThenResolve) {
  const std::string gear = write("gear.txt", "v1");
  const std::string backup = dir_.file("Backup of gear.txt");
  EXPECT_EQ(ok({"backup", "resolve", gear}), gear + "\n");

  EXPECT_EQ(ok({"backup", "make", gear}), backup + "\n");
  EXPECT_EQ(read(backup), "v1");
  EXPECT_EQ(ok({"backup", "resolve", gear}), backup + "\n");
  // Backslashes reach the same file; output comes back with '/'.
  EXPECT_EQ(ok({"backup", "resolve", backslashed(gear)}), backup + "\n");

  write("gear.txt", "v2");
  EXPECT_EQ(ok({"backup", "make", gear}), backup + "\n");
  EXPECT_EQ(read(backup), "v2");
}

TEST_F(VlxFilesTest, BackupOfABareNameStaysInTheWorkingDirectory) {
  write("gear.txt", "v1");
  RunResult r = test::runCommand(
      {"/bin/sh", "-c", "cd '" + dir_.path() + "' && '" VLX_BINARY "' backup make gear.txt"});
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "./Backup of gear.txt\n");
  EXPECT_EQ(read(dir_.file("Backup of gear.txt")), "v1");
}

TEST_F(VlxFilesTest, BackupCountOtherThanOneMakesNoCopy) {
  const std::string gear = write("gear.txt", "v1");
  const struct {
    const char *count;
    const char *message;
  } cases[] = {{"0", "backups are off"}, {"2", "is 2"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.count);
    ok({"pref", "set", "General", "Backup Copies", c.count, "--type", "int"});
    fails({"backup", "make", gear}, c.message);
    EXPECT_FALSE(fs::exists(dir_.file("Backup of gear.txt")));
    EXPECT_EQ(ok({"backup", "resolve", gear}), gear + "\n");
  }
}

TEST_F(VlxFilesTest, FailuresNameTheirCause) {
  fs::create_directory(dir_.file("sub.txt"));
  const std::string notes = write("notes", "");
  const struct {
    std::vector<std::string> args;
    const char *message;
  } cases[] = {
      {{"ls", dir_.file("missing"), "txt"}, "no such directory"},
      {{"ls", notes, "txt"}, "not a directory"},
      {{"backup", "make", dir_.file("missing.txt")}, "no such file"},
      {{"backup", "make", dir_.file("sub.txt")}, "it is a directory"},
      {{"backup", "make", notes}, "no extension"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    fails(c.args, c.message);
  }
}

TEST_F(VlxFilesTest, FailedBackupCopyKeepsTheEarlierBackup) {
  const std::string gear = write("gear.txt", "v1");
  const std::string backup = dir_.file("Backup of gear.txt");
  ok({"backup", "make", gear});
  write("gear.txt", "v2");
  // A read-only target refuses both the deletion and the overwrite.
  fs::permissions(backup, fs::perms::owner_write, fs::perm_options::remove);
  fails({"backup", "make", gear}, "access denied");
  EXPECT_EQ(read(backup), "v1");
  EXPECT_EQ(read(gear), "v2");
}

class VlxTempTest : public VlxFilesTest {
protected:
  // The scratch directory's variables start unset in the spellings an environment holds;
  // TMPDIR points into the test's directory all the same.
  ScopedEnv temp_{"temp", nullptr}, upperTemp_{"TEMP", nullptr};
  ScopedEnv tmp_{"tmp", nullptr}, upperTmp_{"TMP", nullptr};
  ScopedEnv tmpDir_{"TMPDIR", dir_.path().c_str()};

  // The directory of a printed `base`/vlx<pid>/`file` line.
  static std::string scratchDirectory(const std::string &output, const std::string &base,
                                      const std::string &file = "") {
    const std::string tail = "/" + file + "\n";
    EXPECT_EQ(output.rfind(base + "/vlx", 0), 0u) << output;
    EXPECT_GT(output.size(), base.size() + tail.size()) << output;
    EXPECT_EQ(output.find(tail, base.size()), output.size() - tail.size()) << output;
    return output.substr(0, output.size() - std::min(output.size(), tail.size()));
  }
};

TEST_F(VlxTempTest, PrintsTheScratchDirectoryItMade) {
  ScopedEnv temp("temp", dir_.path().c_str());
  std::string made = scratchDirectory(ok({"temp"}), dir_.path());
  EXPECT_TRUE(fs::is_directory(made)) << made;

  std::string other = scratchDirectory(ok({"temp", "gear.tmp"}), dir_.path(), "gear.tmp");
  EXPECT_NE(other, made); // another process, another directory
  EXPECT_TRUE(fs::is_directory(other)) << other;
  EXPECT_FALSE(fs::exists(other + "/gear.tmp"));
}

TEST_F(VlxTempTest, FailsWithoutAUsableBase) {
  fails({"temp"}, "neither temp nor tmp is set");
  ScopedEnv temp("temp", dir_.file("missing").c_str());
  fails({"temp"}, "cannot create the scratch directory");
  fails({"temp", "gear.tmp"}, "cannot create the scratch directory");
}

} // namespace
} // namespace vlx::cli
