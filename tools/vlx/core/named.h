// Tables of codes and their names (error texts, type names), looked up either way.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vlx::cli {

template <class Code> struct Named {
  Code code;
  const char *name;
};

// The name `table` gives `code`, or null where it gives none.
template <class Code, std::size_t N> const char *nameOf(const Named<Code> (&table)[N], Code code) {
  for (const auto &entry : table)
    if (entry.code == code)
      return entry.name;
  return nullptr;
}

// The code `table` gives the name `name` (the same to the letter), if any.
template <class Code, std::size_t N>
std::optional<Code> codeNamed(const Named<Code> (&table)[N], std::string_view name) {
  for (const auto &entry : table)
    if (name == entry.name)
      return entry.code;
  return std::nullopt;
}

// Every name of `table`, in its order, for help texts and checks.
template <class Code, std::size_t N>
std::vector<std::string> namesOf(const Named<Code> (&table)[N]) {
  std::vector<std::string> names;
  for (const auto &entry : table)
    names.emplace_back(entry.name);
  return names;
}

} // namespace vlx::cli
