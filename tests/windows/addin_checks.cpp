// Class identifiers and the language choice against the system's own OLE and user language; the
// add-in lists run in the add-in suite under Wine.
#include "check.h"

#include <velmora/afx.h>
#include <velmora/lang.h>

#include <windows.h>

#include <cstdlib>
#include <string>

namespace vlx::check {

namespace {
const GUID kSample = {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
const char kSampleText[] = "{0123ABCD-4567-89EF-0123-456789ABCDEF}";

std::string narrow(const wchar_t *text) {
  std::string out;
  for (; *text; ++text)
    out += static_cast<char>(*text);
  return out;
}
} // namespace

// The ProgID look-up reads the system's own classes, which the add-in suite cannot redirect.
void checkClassIdentifiers() {
  LPOLESTR text = nullptr;
  EXPECT(StringFromCLSID(kSample, &text) == S_OK, "StringFromCLSID");
  EXPECT_EQ(narrow(text), kSampleText, "class identifier text");
  GUID back{};
  EXPECT(CLSIDFromString(text, &back) == S_OK && IsEqualGUID(back, kSample),
         "class identifier round trip");
  CoTaskMemFree(text);

  RegSetValueA(HKEY_LOCAL_MACHINE, "Software\\Classes\\Vlx.Check\\CLSID", REG_SZ, kSampleText, 0);
  back = GUID{};
  EXPECT(CLSIDFromProgID(L"Vlx.Check", &back) == S_OK && IsEqualGUID(back, kSample),
         "CLSIDFromProgID of a registered ProgID");
  EXPECT_EQ(CLSIDFromProgID(L"Vlx.Check.Missing", &back), CO_E_CLASSSTRING,
            "CLSIDFromProgID of an unknown ProgID");
  EXPECT_EQ(AfxGetClassIDFromString("Vlx.Check", &back), S_OK, "AfxGetClassIDFromString, ProgID");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Classes\\Vlx.Check");
}

// Wine takes the user's language from the Unix locale once, at process start, with no way to
// change it inside the process: a run of its own sets LC_ALL and says what it expects.
void checkLanguage(const char *expectedId, const char *expectedSubdir) {
  EXPECT_EQ(GetUserDefaultLangID(), std::strtoul(expectedId, nullptr, 0), "GetUserDefaultLangID");
  EXPECT_EQ(std::string(su_GetLangSubdir().GetString()), expectedSubdir, "language subdirectory");
}

} // namespace vlx::check
