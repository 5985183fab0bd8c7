// libFuzzer target: path splitting and the Windows-to-POSIX path mapping on any text.
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

} // namespace

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
      text.find(name.GetString()) == std::string::npos ||
      CString(path) != CString(text.c_str()))
    std::abort();
  // Delimiters never stay with their part.
  if (drive.Find(':') >= 0 || name.Find('\\') >= 0 ||
      (directory.GetLength() > 0 && text[static_cast<size_t>(directory.GetLength())] != '\\'))
    std::abort();

  std::string posix;
  if (vlx::posix::mapPath(text.c_str(), posix) == 0 && posix.find('\\') != std::string::npos)
    std::abort();
  return 0;
}
