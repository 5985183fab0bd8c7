// The private profile's settings: see profile_settings.h.
#include "profile_settings.h"
#include "installation.h"
#include "office.h"
#include "prepared_profile.h"

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

} // namespace

void writeProfileSettings(const std::string &profile) {
  std::error_code ec;
  std::filesystem::create_directories(profile + "/user", ec);
  std::string path = profile + "/user/registrymodifications.xcu";
  const std::string text = prepareProfile(profile, kProgramDir, kProfileSettings);
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (ec || fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    if (fd >= 0)
      ::close(fd);
    throw CalcError(Fault::NoOffice, "cannot write the office's profile in " + profile);
  }
  ::close(fd);
}

} // namespace vlx::calc
