// libFuzzer target: class identifier text and the UTF-8/UTF-16 conversions on any input. What
// parses prints back as the same text in upper case; valid UTF-8 survives the round trip.
#include <velmora/win32.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::u16string wide(size / 2, u'\0');
  std::memcpy(wide.data(), data, wide.size() * 2);
  GUID clsid;
  if (CLSIDFromString(wide.c_str(), &clsid) == S_OK && !wide.empty()) {
    OLECHAR text[39];
    if (StringFromGUID2(clsid, text, 39) != 39)
      std::abort();
    for (size_t i = 0; i < 39; ++i) {
      char16_t c = wide[i];
      if (c >= u'a' && c <= u'f')
        c = static_cast<char16_t>(c - u'a' + u'A');
      if (text[i] != c)
        std::abort();
    }
  }

  const std::string narrow(reinterpret_cast<const char *>(data),
                           strnlen(reinterpret_cast<const char *>(data), size));
  size_t units = vlx::mbstowcs(nullptr, narrow.c_str(), 0);
  if (units == static_cast<size_t>(-1))
    return 0;
  std::vector<char16_t> back(units + 1);
  vlx::mbstowcs(back.data(), narrow.c_str(), back.size());
  std::vector<char> again(narrow.size() + 1);
  if (vlx::wcstombs(again.data(), back.data(), again.size()) != narrow.size() ||
      narrow != again.data())
    std::abort();
  return 0;
}
