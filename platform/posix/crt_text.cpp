// The run-time library's text calls for 16-bit text: wcstombs, mbstowcs (UTF-8) and _mbsicmp.
#include <velmora/win32.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace vlx {

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
  } else {
    // ICU refuses unpaired surrogates, which the CRT reports as -1 too.
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(nullptr, 0, &length, src, static_cast<int32_t>(units), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
      return static_cast<size_t>(-1);
    text.assign(static_cast<size_t>(length), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8(text.data(), length, nullptr, src, static_cast<int32_t>(units), &status);
    if (U_FAILURE(status))
      return static_cast<size_t>(-1);
  }
  if (!dest)
    return text.size();
  size_t n = text.size();
  if (n >= count) {
    // Never a partial character: back off to the start of the one that does not fit.
    n = count;
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
      --n;
  }
  std::memcpy(dest, text.data(), n);
  if (n < count)
    dest[n] = '\0';
  return n;
}

size_t mbstowcs(WCHAR *dest, const char *src, size_t count) {
  if (!src)
    return static_cast<size_t>(-1);
  size_t bytes = std::strlen(src);
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8(nullptr, 0, &length, src, static_cast<int32_t>(bytes), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status))
    return static_cast<size_t>(-1);
  std::u16string text(static_cast<size_t>(length), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8(text.data(), length, nullptr, src, static_cast<int32_t>(bytes), &status);
  if (U_FAILURE(status))
    return static_cast<size_t>(-1);
  if (!dest)
    return text.size();
  size_t n = text.size();
  // Never half of a surrogate pair.
  if (n >= count) {
    n = count;
    if (n > 0 && n < text.size() && U16_IS_TRAIL(text[n]))
      --n;
  }
  std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n), dest);
  if (n < count)
    dest[n] = 0;
  return n;
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
