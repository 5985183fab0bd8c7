// The private profile's settings: see profile_settings.h.
#include "profile_settings.h"
#include "installation.h"
#include "office.h"
#include "prepared_profile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace vlx::calc {

namespace {

// Settings of the private profile: no lock files beside the host's documents (a lock left by a
// killed office makes the next one ask, and wait, whether to open the file), no recovery data,
// no first-start dialogs, and files never recalculated on load (1: never), whatever the
// installation's default.
const char kProfileSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"UseLocking\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop "
    "oor:name=\"UseDocumentOOoLockFile\" oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop "
    "oor:name=\"UseDocumentSystemFileLocking\" oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"ShowTipOfTheDay\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"FirstRun\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop "
    "oor:name=\"OOXMLRecalcMode\" oor:op=\"fuse\"><value>1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop "
    "oor:name=\"ODFRecalcMode\" oor:op=\"fuse\"><value>1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Recovery/AutoSave\"><prop oor:name=\"Enabled\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Recovery/RecoveryInfo\"><prop "
    "oor:name=\"Enabled\" oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "</oor:items>\n";

[[noreturn]] void failFull(const std::string &dir, unsigned long long freeBytes) {
  throw CalcError(Fault::NoOffice, "the disk is full: " + std::to_string(freeBytes >> 10) +
                                       " KB free in " + dir + ", where LibreOffice needs " +
                                       std::to_string(kStartRoomBytes >> 20) + " MB to start");
}

} // namespace

void writeProfileSettings(const std::string &profile) {
  const std::string scratch = std::filesystem::path(profile).parent_path().string();
  unsigned long long room = 0;
  if (diskFull(scratch, room))
    failFull(scratch, room);
  std::error_code ec;
  std::filesystem::create_directories(profile + "/user", ec);
  std::string path = profile + "/user/registrymodifications.xcu";
  const std::string text = prepareProfile(profile, kProgramDir, kProfileSettings);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (ec || fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    int error = ec ? ec.value() : errno;
    if (fd >= 0)
      ::close(fd);
    if (error == ENOSPC || error == EDQUOT || diskFull(scratch, room))
      failFull(scratch, room);
    throw CalcError(Fault::NoOffice, "cannot write the office's profile in " + profile + ": " +
                                         std::strerror(error));
  }
  ::close(fd);
}

} // namespace vlx::calc
