// Numbers given on the command line, taken only when the text is the number and nothing more.
#pragma once

#include <charconv>
#include <string_view>

namespace vlx::cli {

template <class T> bool parseWhole(std::string_view text, T &value, int base = 10) {
  const char *end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, value, base);
  return result.ec == std::errc() && result.ptr == end;
}

} // namespace vlx::cli
