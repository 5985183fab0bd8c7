// Names compared without regard to case, as Windows compares them: UTF-16 units, each upper-cased
// on its own.
#include "platform/posix/name_fold.h"

#include <algorithm>
#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace vlx {
bool isAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::u32string foldedUnits(std::string_view text) {
  std::u32string folded;
  folded.reserve(text.size());
  const auto *bytes = reinterpret_cast<const uint8_t *>(text.data());
  const size_t length = text.size();
  for (size_t i = 0; i < length;) {
    if (bytes[i] < 0x80) {
      folded += static_cast<unsigned char>(upperAscii(static_cast<char>(bytes[i++])));
      continue;
    }
    const size_t start = i;
    UChar32 point;
    U8_NEXT(bytes, i, length, point);
    if (point < 0) {
      // Each byte of an ill-formed run on its own, so that no two names meet.
      for (size_t k = start; k < i; ++k)
        folded += kRawByte + bytes[k];
    } else if (point > 0xFFFF) {
      // Windows holds the character as a surrogate pair, which has no case.
      folded += static_cast<char32_t>(U16_LEAD(point));
      folded += static_cast<char32_t>(U16_TRAIL(point));
    } else {
      // A mapping that left the basic plane would not fit one unit: Windows keeps such a letter.
      const UChar32 upper = u_toupper(point);
      folded += static_cast<char32_t>(upper <= 0xFFFF ? upper : point);
    }
  }
  return folded;
}

bool sameFolded(std::string_view a, std::string_view b) {
  if (isAscii(a) && isAscii(b))
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
             return upperAscii(x) == upperAscii(y);
           });
  return foldedUnits(a) == foldedUnits(b);
}

} // namespace vlx
