// libFuzzer target: path splitting and the Windows-to-POSIX path mapping on any text, which
// never leaves a drive's tree.
#include "platform/posix/files/path_map.h"

#include <velmora/files.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool startsWith(const std::string &text, const CString &part) {
  return text.compare(0, static_cast<size_t>(part.GetLength()), part.GetString()) == 0;
}

bool endsWith(const std::string &text, const CString &part) {
  size_t n = static_cast<size_t>(part.GetLength());
  return n <= text.size() && text.compare(text.size() - n, n, part.GetString()) == 0;
}

// A `..` component: what would let a mapped path climb above its root.
bool climbs(const std::string &posix) {
  const std::string padded = "/" + posix + "/";
  return padded.find("/../") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Drive C: is a directory whose tree the mapped paths must not leave.
  setenv("VELMORA_DRIVE_C", "/drive-c", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string text(reinterpret_cast<const char *>(data), size);
  text = text.substr(0, text.find('\0'));

  suFullPath_c path(text.c_str());
  CString drive, directory, name, extension;
  path.getDrive(&drive);
  path.getDirectory(&directory);
  path.getName(&name);
  path.getExtension(&extension);
  // Each part is cut from the text as it stands: no part is made up or normalised.
  if (!startsWith(text, drive) || !startsWith(text, directory) || !endsWith(text, extension) ||
      text.find(name.GetString()) == std::string::npos || CString(path) != CString(text.c_str()))
    std::abort();
  // Delimiters never stay with their part.
  if (drive.Find(':') >= 0 || name.Find('\\') >= 0 ||
      (directory.GetLength() > 0 && text[static_cast<size_t>(directory.GetLength())] != '\\'))
    std::abort();

  std::string posix;
  vlx::posix::PathFacts facts;
  if (vlx::posix::mapPath(text.c_str(), posix, &facts) != 0)
    return 0;
  // NUL is the null device in any folder.
  if (facts.device) {
    if (posix != "/dev/null")
      std::abort();
    return 0;
  }
  if (posix.find('\\') != std::string::npos)
    std::abort();
  // Drive and rooted paths are resolved in the text and stay below their root.
  const bool driveC = text.size() >= 2 && (text[0] == 'C' || text[0] == 'c') && text[1] == ':';
  if ((posix[0] == '/' && climbs(posix)) ||
      (driveC && posix != "/drive-c" && posix.rfind("/drive-c/", 0) != 0))
    std::abort();
  return 0;
}
