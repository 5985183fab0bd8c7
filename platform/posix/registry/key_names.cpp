// Registry names: case folding, lengths in characters, and splitting of key paths.
#include "platform/posix/registry/key_names.h"

#include "platform/posix/name_fold.h"

#include <climits>
#include <unicode/ustring.h>

namespace vlx {

std::string foldName(std::string_view name) {
  std::string out;
  foldName(name, &out);
  return out;
}

void foldName(std::string_view name, std::string *out) {
  // Most names: no detour through the units.
  if (isAscii(name)) {
    out->assign(2 * name.size(), '\0');
    for (size_t i = 0; i < name.size(); ++i)
      (*out)[2 * i + 1] = upperAscii(name[i]);
    return;
  }
  out->clear();
  out->reserve(2 * name.size());
  for (char32_t unit : foldedUnits(name)) {
    const char32_t stored = unit >= kRawByte ? 0xDC00 + (unit - kRawByte) : unit;
    *out += static_cast<char>(stored >> 8);
    *out += static_cast<char>(stored & 0xFF);
  }
}

std::string foldNameAsciiOnly(std::string_view name) {
  std::string out(name);
  for (char &c : out)
    c = upperAscii(c);
  return out;
}

size_t nameChars(std::string_view name) {
  if (isAscii(name) || name.size() > INT32_MAX)
    return name.size();
  int32_t units = 0;
  UErrorCode status = U_ZERO_ERROR;
  u_strFromUTF8(nullptr, 0, &units, name.data(), static_cast<int32_t>(name.size()), &status);
  const bool valid = U_SUCCESS(status) || status == U_BUFFER_OVERFLOW_ERROR;
  return valid ? static_cast<size_t>(units) : name.size();
}

LONG splitKeyPath(const char *path, std::vector<std::string_view> *parts) {
  parts->clear();
  if (!path || !*path)
    return ERROR_SUCCESS;
  std::string_view rest(path);
  if (rest.front() == '\\')
    return ERROR_BAD_PATHNAME;
  if (rest.back() == '\\')
    rest.remove_suffix(1);
  while (!rest.empty()) {
    size_t cut = rest.find('\\');
    std::string_view part = rest.substr(0, cut);
    if (part.empty())
      return ERROR_BAD_PATHNAME;
    parts->push_back(part);
    if (cut == std::string_view::npos)
      break;
    rest.remove_prefix(cut + 1);
  }
  return ERROR_SUCCESS;
}

} // namespace vlx
