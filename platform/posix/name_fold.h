// Names compared without regard to case, as Windows compares them: UTF-16 units, each upper-cased
// on its own. The one folding of registry names and file-name wildcards.
#pragma once

#include <string>
#include <string_view>

namespace vlx {

// Where a byte that is not part of valid UTF-8 stands in a folded name: kRawByte + the byte, which
// no UTF-16 unit can be, so such a name folds to itself and stays distinct from every other.
constexpr char32_t kRawByte = 0x110000;

inline char upperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool isAscii(std::string_view text);

// `text` as Windows compares it: its UTF-16 units, those of the basic plane upper-cased by the
// simple one-to-one mapping (so 'ß' stays 'ß'), the surrogates of other characters as they are.
std::u32string foldedUnits(std::string_view text);

// Whether a and b are the same name once folded.
bool sameFolded(std::string_view a, std::string_view b);

} // namespace vlx
