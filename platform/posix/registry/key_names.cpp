// Registry names: case folding, lengths in characters, and splitting of key paths.
#include "platform/posix/registry/key_names.h"

namespace vlx {

std::string foldName(std::string_view name) {
  std::string out(name);
  for (char &c : out)
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 'a' + 'A');
  return out;
}

size_t nameChars(std::string_view name) {
  size_t units = 0;
  size_t i = 0;
  while (i < name.size()) {
    auto b = static_cast<unsigned char>(name[i]);
    size_t len = b < 0x80           ? 1
                 : (b >> 5) == 0x6  ? 2
                 : (b >> 4) == 0xe  ? 3
                 : (b >> 3) == 0x1e ? 4
                                    : 0;
    if (len == 0 || i + len > name.size())
      return name.size();
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(name[i + k]) & 0xc0) != 0x80)
        return name.size();
    units += len == 4 ? 2 : 1;
    i += len;
  }
  return units;
}

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z')
      x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z')
      y = static_cast<char>(y - 'a' + 'A');
    if (x != y)
      return false;
  }
  return true;
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
