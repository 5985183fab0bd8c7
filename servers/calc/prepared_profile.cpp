// The profile's last version and the kept profile: see prepared_profile.h.
#include "prepared_profile.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vlx::calc {

namespace fs = std::filesystem;

namespace {

const char kSettingsFile[] = "registrymodifications.xcu";

bool isVersion(const std::string &text) {
  if (text.empty() || text.size() > 16 || text.front() == '.' || text.back() == '.')
    return false;
  for (char c : text)
    if (!(c >= '0' && c <= '9') && c != '.')
      return false;
  return text.find('.') != std::string::npos;
}

// A directory only this user can enter, made when missing.
bool privateDir(const std::string &path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return false;
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

// The name mkdtemp gives a copy of a kept profile: "calc-profile-...", a dot and six letters or
// digits. A kept profile's own name ends in "-<time>", never so.
bool isHalfCopy(const std::string &name) {
  if (name.rfind("calc-profile-", 0) != 0 || name.size() < 20 || name[name.size() - 7] != '.')
    return false;
  for (size_t i = name.size() - 6; i < name.size(); ++i)
    if (!std::isalnum(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

} // namespace

void removeStaleCopies(const std::string &kept) {
  if (kept.empty())
    return;
  const std::string dir = fs::path(kept).parent_path().string();
  // A copy is written in seconds, and each entry written into it renews its time: one this old
  // was left by a start that was killed (or one that failed to remove it).
  const time_t before = std::time(nullptr) - kStaleCopySeconds;
  DIR *entries = ::opendir(dir.c_str());
  if (!entries)
    return;
  while (dirent *entry = ::readdir(entries)) {
    const std::string path = dir + "/" + entry->d_name;
    struct stat st;
    // Only the user's own directories, never a link; remove_all does not follow the links
    // inside, and nobody else can enter the cache to swap one in meanwhile.
    if (isHalfCopy(entry->d_name) && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
        st.st_uid == ::getuid() && st.st_mtime < before) {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  }
  ::closedir(entries);
}

std::string installedVersion(const std::string &programDir) {
  // "ProductKey=<product name> <major>.<minor>", written when the office is built.
  std::ifstream in(programDir + "/bootstraprc");
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.compare(0, 11, "ProductKey=") != 0)
      continue;
    std::string version = line.substr(line.find_last_of(" =") + 1);
    return isVersion(version) ? version : std::string();
  }
  return {};
}

std::string withLastVersion(const std::string &settings, const std::string &version) {
  size_t end = settings.rfind("</oor:items>");
  if (version.empty() || end == std::string::npos)
    return settings;
  std::string item = "<item oor:path=\"/org.openoffice.Setup/Product\"><prop "
                     "oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" +
                     version + "</value></prop></item>\n";
  return settings.substr(0, end) + item + settings.substr(end);
}

std::string preparedProfileDir(const std::string &programDir) {
  if (const char *fast = std::getenv("VELMORA_CALC_FAST_START"); fast && std::string(fast) == "0")
    return {};
  std::string version = installedVersion(programDir);
  struct stat installed;
  if (version.empty() || ::stat((programDir + "/bootstraprc").c_str(), &installed) != 0)
    return {};
  std::string cache;
  if (const char *xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/')
    cache = xdg;
  else if (const char *home = std::getenv("HOME"); home && *home == '/')
    cache = std::string(home) + "/.cache";
  else
    return {};
  // An update of the office rewrites its files: a profile kept for the old one is not reused.
  if ((::mkdir(cache.c_str(), 0700) != 0 && errno != EEXIST) || !privateDir(cache + "/velmora"))
    return {};
  return cache + "/velmora/calc-profile-" + version + "-" +
         std::to_string(static_cast<long long>(installed.st_mtime));
}

bool diskFull(const std::string &dir, unsigned long long &freeBytes) {
  struct statvfs room;
  if (::statvfs(dir.c_str(), &room) != 0)
    return false;
  freeBytes = static_cast<unsigned long long>(room.f_bavail) * room.f_frsize;
  return freeBytes < kStartRoomBytes;
}

bool copyPreparedProfile(const std::string &kept, const std::string &profile) {
  struct stat st;
  if (kept.empty() || ::lstat(kept.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
      st.st_uid != ::getuid())
    return false;
  std::error_code ec;
  fs::create_directories(profile + "/user", ec);
  try {
    for (const auto &entry : fs::directory_iterator(kept, ec)) {
      if (entry.path().filename() == kSettingsFile)
        continue;
      fs::copy(entry.path(), profile + "/user/" + entry.path().filename().string(),
               fs::copy_options::recursive | fs::copy_options::skip_symlinks, ec);
      if (ec)
        break;
    }
  } catch (const fs::filesystem_error &error) {
    ec = error.code();
  }
  if (ec) {
    // Half a profile would be worse than none.
    // (A copy that ran out of room may say EIO.)
    unsigned long long room = 0;
    const bool full =
        ec == std::errc::no_space_on_device || ec.value() == EDQUOT || diskFull(profile, room);
    fs::remove_all(profile + "/user", ec);
    fs::create_directories(profile + "/user", ec);
    if (full)
      return false; // the copy's disk is full, not the kept profile damaged
    // A kept profile that cannot be copied is dropped, so that a later start keeps a whole one;
    // moved aside first, so that no other host copies from it while it goes.
    std::string aside = kept + ".XXXXXX";
    if (::mkdtemp(aside.data())) {
      if (::rename(kept.c_str(), aside.c_str()) == 0)
        fs::remove_all(aside, ec);
      else
        ::rmdir(aside.c_str());
    }
    return false;
  }
  return true;
}

void keepPreparedProfile(const std::string &profile, const std::string &kept) {
  struct stat st;
  if (kept.empty() || ::lstat(kept.c_str(), &st) == 0)
    return;
  // Copied aside first and renamed: a second host starting now sees a whole profile or none.
  std::string partial = kept + ".XXXXXX";
  if (!::mkdtemp(partial.data()))
    return;
  std::error_code ec;
  try {
    for (const auto &entry : fs::directory_iterator(profile + "/user", ec)) {
      std::string name = entry.path().filename().string();
      // The settings are the host's own, written anew at each start; locks are the office's.
      if (name == kSettingsFile || name == ".lock")
        continue;
      fs::copy(entry.path(), partial + "/" + name,
               fs::copy_options::recursive | fs::copy_options::skip_symlinks, ec);
      if (ec)
        break;
    }
  } catch (const fs::filesystem_error &error) {
    ec = error.code(); // the office changed its profile meanwhile: kept at a later start
  }
  if (ec || ::rename(partial.c_str(), kept.c_str()) != 0)
    fs::remove_all(partial, ec);
}

std::string prepareProfile(const std::string &profile, const std::string &programDir,
                           const std::string &settings) {
  const std::string kept = preparedProfileDir(programDir);
  removeStaleCopies(kept);
  copyPreparedProfile(kept, profile);
  if (const char *fast = std::getenv("VELMORA_CALC_FAST_START"); fast && std::string(fast) == "0")
    return settings;
  return withLastVersion(settings, installedVersion(programDir));
}

} // namespace vlx::calc
