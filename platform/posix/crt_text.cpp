// The run-time library's text calls for 16-bit text: wcstombs, mbstowcs (UTF-8) and _mbsicmp.
#include <velmora/win32.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace vlx {
namespace {

// ICU's measure-then-convert, into `out`; false where ICU refuses the text (unpaired surrogates,
// bad UTF-8), which the CRT reports as -1.
template <typename Out, typename Unit, typename Convert>
bool convertWhole(Out &out, const Unit *src, size_t units, Convert convert) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  convert(nullptr, 0, &length, src, static_cast<int32_t>(units), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
    return false;
  out.assign(static_cast<size_t>(length), 0);
  status = U_ZERO_ERROR;
  convert(out.data(), length, nullptr, src, static_cast<int32_t>(units), &status);
  return U_SUCCESS(status);
}

// What fits of `text` in `count` units of `dest`, never part of a character, ended when there is
// room; without `dest`, the length it needs.
template <typename Text, typename Unit, typename IsTrail>
size_t copyOut(const Text &text, Unit *dest, size_t count, IsTrail isTrail) {
  if (!dest)
    return text.size();
  size_t n = text.size();
  if (n >= count) {
    n = count;
    while (n > 0 && n < text.size() && isTrail(text[n]))
      --n;
  }
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), dest);
  if (n < count)
    dest[n] = 0;
  return n;
}

} // namespace

size_t wcstombs(char *dest, const WCHAR *src, size_t count) {
  if (!src)
    return static_cast<size_t>(-1);
  size_t units = 0;
  bool ascii = true;
  for (; src[units]; ++units)
    ascii = ascii && src[units] < 0x80;
  std::string text;
  if (ascii) {
    text.assign(units, '\0');
    for (size_t i = 0; i < units; ++i)
      text[i] = static_cast<char>(src[i]);
  } else if (!convertWhole(text, src, units, u_strToUTF8)) {
    return static_cast<size_t>(-1);
  }
  return copyOut(text, dest, count,
                 [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; });
}

size_t mbstowcs(WCHAR *dest, const char *src, size_t count) {
  if (!src)
    return static_cast<size_t>(-1);
  std::u16string text;
  if (!convertWhole(text, src, std::strlen(src), u_strFromUTF8))
    return static_cast<size_t>(-1);
  return copyOut(text, dest, count, [](char16_t unit) { return U16_IS_TRAIL(unit); });
}

} // namespace vlx

extern "C" {

int _mbsicmp(const unsigned char *string1, const unsigned char *string2) {
  if (!string1 || !string2)
    return INT_MAX; // _NLSCMPERROR
  // Letters fold to lower case, as the CRT compares them; other bytes compare as they are.
  auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  for (;; ++string1, ++string2) {
    int a = lower(*string1), b = lower(*string2);
    if (a != b)
      return a - b;
    if (a == 0)
      return 0;
  }
}

} // extern "C"
