// The profile a started office gets: the installed version read without starting the office,
// written into the settings, and the prepared profile kept and reused in a private cache.
#include "office.h"
#include "prepared_profile.h"
#include "profile_settings.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vlx::calc {
namespace {

namespace fs = std::filesystem;
using test::ScopedEnv;
using test::TempDir;

const char kSettings[] = "<?xml version=\"1.0\"?>\n<oor:items>\n<item/>\n</oor:items>\n";

void writeFile(const std::string &path, const std::string &text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path) << text;
}

std::string readFile(const std::string &path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

TEST(PreparedProfile, VersionFromTheProductKey) {
  TempDir dir;
  const struct {
    const char *bootstraprc;
    const char *version;
  } cases[] = {
      {"[Bootstrap]\nInstallMode=x\nProductKey=LibreOffice 7.4\n", "7.4"},
      {"[Bootstrap]\r\nProductKey=Some Office Dev 24.2\r\n", "24.2"},
      {"ProductKey=7.5.1\n", "7.5.1"},
      {"[Bootstrap]\nUserInstallation=x\n", ""},
      {"ProductKey=LibreOffice\n", ""},
      {"ProductKey=Office 7.4</value>\n", ""},
      {"ProductKey=Office 7.\n", ""},
  };
  for (const auto &c : cases) {
    writeFile(dir.file("bootstraprc"), c.bootstraprc);
    EXPECT_EQ(installedVersion(dir.path()), c.version) << c.bootstraprc;
  }
  EXPECT_EQ(installedVersion(dir.file("missing")), "");
}

// The office compares the profile's version with the one its configuration carries.
TEST(PreparedProfile, VersionOfTheInstalledOffice) {
  std::string program = fs::path(VLX_SOFFICE).parent_path();
  std::string xcd = readFile(program + "/../share/registry/main.xcd");
  size_t prop = xcd.find("oor:name=\"ooSetupVersion\">");
  ASSERT_NE(prop, std::string::npos);
  size_t value = xcd.find("<value>", prop) + 7;
  EXPECT_EQ(installedVersion(program), xcd.substr(value, xcd.find('<', value) - value));
}

TEST(PreparedProfile, SettingsCarryTheVersion) {
  TempDir dir;
  writeFile(dir.file("program/bootstraprc"), "ProductKey=LibreOffice 7.4\n");
  ScopedEnv cache("XDG_CACHE_HOME", dir.file("cache").c_str());
  std::string text = prepareProfile(dir.file("profile"), dir.file("program"), kSettings);
  EXPECT_EQ(text, "<?xml version=\"1.0\"?>\n<oor:items>\n<item/>\n"
                  "<item oor:path=\"/org.openoffice.Setup/Product\"><prop "
                  "oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>7.4</value></prop>"
                  "</item>\n</oor:items>\n");
  {
    ScopedEnv off("VELMORA_CALC_FAST_START", "0");
    EXPECT_EQ(prepareProfile(dir.file("profile2"), dir.file("program"), kSettings), kSettings);
    EXPECT_EQ(preparedProfileDir(dir.file("program")), "");
  }
  EXPECT_EQ(withLastVersion(kSettings, ""), kSettings);
  EXPECT_EQ(withLastVersion("not settings", "7.4"), "not settings");
}

TEST(PreparedProfile, CacheIsPrivate) {
  TempDir dir;
  writeFile(dir.file("program/bootstraprc"), "ProductKey=LibreOffice 7.4\n");
  ScopedEnv cache("XDG_CACHE_HOME", dir.file("cache").c_str());
  std::string kept = preparedProfileDir(dir.file("program"));
  EXPECT_EQ(fs::path(kept).parent_path(), dir.file("cache/velmora"));
  EXPECT_EQ(fs::path(kept).filename().string().rfind("calc-profile-7.4-", 0), 0u) << kept;
  struct stat st;
  ASSERT_EQ(::lstat(dir.file("cache/velmora").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);

  ::chmod(dir.file("cache/velmora").c_str(), 0755);
  EXPECT_EQ(preparedProfileDir(dir.file("program")), "");
  fs::remove(dir.file("cache/velmora"));
  fs::create_directories(dir.file("elsewhere"));
  ::chmod(dir.file("elsewhere").c_str(), 0700);
  fs::create_directory_symlink(dir.file("elsewhere"), dir.file("cache/velmora"));
  EXPECT_EQ(preparedProfileDir(dir.file("program")), "");
  {
    ScopedEnv relative("XDG_CACHE_HOME", "cache");
    ScopedEnv home("HOME", nullptr);
    EXPECT_EQ(preparedProfileDir(dir.file("program")), "");
  }
}

TEST(PreparedProfile, KeptOnceAndCopiedWithoutSettings) {
  TempDir dir;
  std::string kept = dir.file("velmora/calc-profile");
  fs::create_directories(dir.file("velmora"));
  writeFile(dir.file("first/user/extensions/state"), "synced");
  writeFile(dir.file("first/user/registrymodifications.xcu"), "office's own");
  writeFile(dir.file("first/user/.lock"), "pid");
  keepPreparedProfile(dir.file("first"), kept);
  EXPECT_EQ(readFile(kept + "/extensions/state"), "synced");
  EXPECT_FALSE(fs::exists(kept + "/registrymodifications.xcu"));
  EXPECT_FALSE(fs::exists(kept + "/.lock"));

  writeFile(dir.file("second/user/extensions/state"), "other");
  keepPreparedProfile(dir.file("second"), kept);
  EXPECT_EQ(readFile(kept + "/extensions/state"), "synced");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("velmora")), {}), 1);

  writeFile(kept + "/registrymodifications.xcu", "stale");
  ASSERT_TRUE(copyPreparedProfile(kept, dir.file("third")));
  EXPECT_EQ(readFile(dir.file("third/user/extensions/state")), "synced");
  EXPECT_FALSE(fs::exists(dir.file("third/user/registrymodifications.xcu")));
  EXPECT_FALSE(copyPreparedProfile(dir.file("velmora/none"), dir.file("fourth")));
  EXPECT_FALSE(copyPreparedProfile("", dir.file("fourth")));
}

TEST(PreparedProfile, ADamagedKeptProfileIsDroppedAndKeptAnew) {
  TempDir dir;
  std::string kept = dir.file("velmora/calc-profile");
  writeFile(kept + "/extensions/state", "synced");
  // What no office writes, and a copy cannot take: the next start keeps a whole one again.
  ASSERT_EQ(::mkfifo((kept + "/extensions/pipe").c_str(), 0600), 0);
  EXPECT_FALSE(copyPreparedProfile(kept, dir.file("first")));
  EXPECT_TRUE(fs::is_empty(dir.file("first/user")));
  EXPECT_FALSE(fs::exists(kept));
  writeFile(dir.file("first/user/extensions/state"), "fresh");
  keepPreparedProfile(dir.file("first"), kept);
  ASSERT_TRUE(copyPreparedProfile(kept, dir.file("second")));
  EXPECT_EQ(readFile(dir.file("second/user/extensions/state")), "fresh");
}

// On a full disk a start fails at once and says so, where the office would start and never
// answer; the kept profile, which is whole, stays.
TEST(PreparedProfile, AFullDiskIsNamedAndTheKeptProfileStays) {
  TempDir dir;
  ScopedEnv cache("XDG_CACHE_HOME", dir.file("cache").c_str());
  const std::string kept = preparedProfileDir(fs::path(VLX_SOFFICE).parent_path());
  ASSERT_NE(kept, "");
  writeFile(kept + "/extensions/state", std::string(256 << 10, 's'));
  const std::string full = dir.file("full");
  fs::create_directories(full);
  pid_t child = ::fork();
  if (child == 0) {
    // A small file system of the child's own, full but for 64 KB.
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("none", full.c_str(), "tmpfs", 0, "size=1m") != 0)
      ::_exit(77);
    std::ofstream(full + "/fill") << std::string((1 << 20) - (64 << 10), 'f');
    if (copyPreparedProfile(kept, full + "/copy") || !fs::exists(kept + "/extensions/state"))
      ::_exit(1);
    try {
      writeProfileSettings(full + "/profile");
      ::_exit(2);
    } catch (const CalcError &e) {
      ::_exit(std::string(e.what()).rfind("the disk is full: ", 0) == 0 ? 0 : 3);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
    GTEST_SKIP() << "no mount namespace for a small file system";
  EXPECT_EQ(status, 0) << "1: the kept profile was dropped; 2, 3: the full disk was not named";
  EXPECT_EQ(readFile(kept + "/extensions/state").size(), size_t(256) << 10);
}

// A start that was killed while it kept or dropped a profile leaves a half-made copy; a later
// start removes it once nothing has written it for a while, and nothing else.
TEST(PreparedProfile, StaleHalfCopiesGo) {
  TempDir dir;
  writeFile(dir.file("program/bootstraprc"), "ProductKey=LibreOffice 7.4\n");
  ScopedEnv cache("XDG_CACHE_HOME", dir.file("cache").c_str());
  const std::string kept = preparedProfileDir(dir.file("program"));
  const std::string cacheDir = dir.file("cache/velmora/");
  writeFile(dir.file("outside/keep"), "not ours to remove");
  const auto old = fs::file_time_type::clock::now() - std::chrono::seconds(kStaleCopySeconds + 60);
  const struct {
    std::string name;
    bool aged;
    bool goes;
  } entries[] = {
      {fs::path(kept).filename().string() + ".a1B2c3", true, true},
      {"calc-profile-7.3-1600000000.Zz9yY8", true, true},             // of an earlier version
      {fs::path(kept).filename().string() + ".d4E5f6", false, false}, // a start writes it now
      {fs::path(kept).filename().string(), true, false},              // the kept profile
      {"calc-profile-7.4-1.g7H8i", true, false},                      // not a copy's name
      {"other.j1K2l3", true, false},
  };
  for (const auto &e : entries) {
    writeFile(cacheDir + e.name + "/extensions/state", "synced");
    if (e.aged)
      fs::last_write_time(cacheDir + e.name, old);
  }
  // Neither a link nor a file named as a copy is taken for one; a link is not followed.
  fs::last_write_time(dir.file("outside"), old);
  fs::create_directory_symlink(dir.file("outside"), cacheDir + "calc-profile-7.4-2.m4N5o6");
  writeFile(cacheDir + "calc-profile-7.4-3.p7Q8r9", "");
  fs::last_write_time(cacheDir + "calc-profile-7.4-3.p7Q8r9", old);

  prepareProfile(dir.file("profile"), dir.file("program"), kSettings);
  for (const auto &e : entries)
    EXPECT_EQ(fs::exists(cacheDir + e.name), !e.goes) << e.name;
  EXPECT_TRUE(fs::is_symlink(cacheDir + "calc-profile-7.4-2.m4N5o6"));
  EXPECT_TRUE(fs::exists(cacheDir + "calc-profile-7.4-3.p7Q8r9"));
  EXPECT_EQ(readFile(dir.file("outside/keep")), "not ours to remove");
}

} // namespace
} // namespace vlx::calc
