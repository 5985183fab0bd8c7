// Class identifier text: the braced form, its strict parser and the ProgID look-up.
#include <velmora/win32.h>

#include <cstdio>
#include <string>

namespace {

constexpr int kGuidChars = 38; // {8-4-4-4-12}

int hexDigit(OLECHAR c) {
  if (c >= u'0' && c <= u'9')
    return c - u'0';
  if (c >= u'A' && c <= u'F')
    return c - u'A' + 10;
  if (c >= u'a' && c <= u'f')
    return c - u'a' + 10;
  return -1;
}

// Reads `digits` hex digits at `s`; false on anything else.
bool readHex(LPCOLESTR s, int digits, uint32_t *out) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int d = hexDigit(s[i]);
    if (d < 0)
      return false;
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  *out = v;
  return true;
}

bool parseBraced(LPCOLESTR s, GUID *g) {
  for (int i = 0; i < kGuidChars; ++i)
    if (!s[i])
      return false;
  if (s[0] != u'{' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' || s[24] != u'-' ||
      s[37] != u'}' || s[kGuidChars] != 0)
    return false;
  uint32_t v = 0;
  if (!readHex(s + 1, 8, &v))
    return false;
  g->Data1 = v;
  if (!readHex(s + 10, 4, &v))
    return false;
  g->Data2 = static_cast<WORD>(v);
  if (!readHex(s + 15, 4, &v))
    return false;
  g->Data3 = static_cast<WORD>(v);
  // Data4: two bytes before the last dash, six after it.
  static constexpr int kByteAt[8] = {20, 22, 25, 27, 29, 31, 33, 35};
  for (int i = 0; i < 8; ++i) {
    if (!readHex(s + kByteAt[i], 2, &v))
      return false;
    g->Data4[i] = static_cast<BYTE>(v);
  }
  return true;
}

} // namespace

extern "C" {

int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) {
  if (!lpsz || cchMax < kGuidChars + 1)
    return 0;
  char text[kGuidChars + 1];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                rguid.Data1, rguid.Data2, rguid.Data3, rguid.Data4[0], rguid.Data4[1],
                rguid.Data4[2], rguid.Data4[3], rguid.Data4[4], rguid.Data4[5], rguid.Data4[6],
                rguid.Data4[7]);
  for (int i = 0; i <= kGuidChars; ++i)
    lpsz[i] = static_cast<OLECHAR>(text[i]);
  return kGuidChars + 1;
}

HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz) {
  if (!lplpsz)
    return E_INVALIDARG;
  *lplpsz = static_cast<LPOLESTR>(CoTaskMemAlloc((kGuidChars + 1) * sizeof(OLECHAR)));
  if (!*lplpsz)
    return E_OUTOFMEMORY;
  StringFromGUID2(rclsid, *lplpsz, kGuidChars + 1);
  return S_OK;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
  if (!pclsid)
    return E_INVALIDARG;
  GUID g{};
  // A null text is the null class, as on Windows.
  if (!lpsz || parseBraced(lpsz, &g)) {
    *pclsid = g;
    return S_OK;
  }
  *pclsid = GUID{};
  return CO_E_CLASSSTRING;
}

HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
  if (!lpszProgID || !lpclsid)
    return E_INVALIDARG;
  size_t length = vlx::wcstombs(nullptr, lpszProgID, 0);
  if (length == static_cast<size_t>(-1) || length == 0)
    return CO_E_CLASSSTRING;
  std::string key(length, '\0');
  vlx::wcstombs(key.data(), lpszProgID, length);
  key += "\\CLSID";
  char value[kGuidChars + 2];
  LONG size = sizeof value;
  if (RegQueryValueA(HKEY_CLASSES_ROOT, key.c_str(), value, &size) != ERROR_SUCCESS)
    return CO_E_CLASSSTRING;
  OLECHAR text[sizeof value];
  for (size_t i = 0; i < sizeof value; ++i)
    text[i] = static_cast<unsigned char>(value[i]);
  GUID g{};
  if (!parseBraced(text, &g))
    return CO_E_CLASSSTRING;
  *lpclsid = g;
  return S_OK;
}

} // extern "C"
