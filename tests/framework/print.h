// Lets GoogleTest print CString values in failure messages.
#pragma once

#include <velmora/afx/string.h>

#include <ostream>
#include <string>

inline void PrintTo(const CString &s, std::ostream *os) {
  *os << '"' << std::string(s.GetString(), static_cast<size_t>(s.GetLength())) << '"';
}
