// Class identifiers, the add-in lists and the language choice against the system's own OLE,
// registry and user language.
#include "check.h"

#include <velmora/addins.h>
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

void classIdentifiers() {
  LPOLESTR text = nullptr;
  EXPECT(StringFromCLSID(kSample, &text) == S_OK, "StringFromCLSID");
  EXPECT_EQ(narrow(text), kSampleText, "class identifier text");
  GUID back{};
  EXPECT(CLSIDFromString(text, &back) == S_OK && IsEqualGUID(back, kSample),
         "class identifier round trip");
  CoTaskMemFree(text);
  EXPECT(CLSIDFromString(L"{0123abcd-4567-89ef-0123-456789abcdef}", &back) == S_OK &&
             IsEqualGUID(back, kSample),
         "lower-case class identifier text");

  RegSetValueA(HKEY_LOCAL_MACHINE, "Software\\Classes\\Vlx.Check\\CLSID", REG_SZ, kSampleText, 0);
  back = GUID{};
  EXPECT(CLSIDFromProgID(L"Vlx.Check", &back) == S_OK && IsEqualGUID(back, kSample),
         "CLSIDFromProgID of a registered ProgID");
  EXPECT_EQ(CLSIDFromProgID(L"Vlx.Check.Missing", &back), CO_E_CLASSSTRING,
            "CLSIDFromProgID of an unknown ProgID");
  EXPECT_EQ(AfxGetClassIDFromString("Vlx.Check", &back), S_OK, "AfxGetClassIDFromString, ProgID");
  EXPECT_EQ(AfxGetClassIDFromString("{0123ABCD-4567}", &back), CO_E_CLASSSTRING,
            "AfxGetClassIDFromString, malformed");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Classes\\Vlx.Check");
}

// The library's walks over the real registry: a lower-case class key, the start-up list cycle.
void addInLists() {
  RegSetValueA(HKEY_LOCAL_MACHINE,
               "Software\\Classes\\CLSID\\{0123abcd-4567-89ef-0123-456789abcdef}\\ProgID", REG_SZ,
               "Vlx.Check.1", 0);
  char progId[] = "ProgID";
  CString value;
  EXPECT(regFromCLSIDKey(kSample, progId, value) == 1 && value == "Vlx.Check.1",
         "regFromCLSIDKey with a lower-case class key");
  RegDeleteTreeA(HKEY_LOCAL_MACHINE,
                 "Software\\Classes\\CLSID\\{0123abcd-4567-89ef-0123-456789abcdef}");

  RegSetKeyValueA(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Applications\\Lumivane", "CLSID", REG_SZ,
                  kSampleText, sizeof kSampleText);
  GUID clsid{};
  CString name;
  EXPECT(regEnumApplications(0, clsid, &name) == 1 && name == "Lumivane" &&
             IsEqualGUID(clsid, kSample),
         "regEnumApplications");
  EXPECT_EQ(regFirstTimeAddInLumivane(), 1, "first run");
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0, "second run");
  const int position = regAddInStartup(kSample);
  EXPECT_EQ(position, 0, "regAddInStartup");
  regDeleteFromStartupList(position);
  EXPECT_EQ(regAddInStartup(kSample), -1, "entry deleted");
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0, "run after the user emptied the list");
}

} // namespace

void checkAddins() {
  const auto clear = [] {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Velmora");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\Velmora");
  };
  clear();
  for (void (*group)() : {classIdentifiers, addInLists})
    group();
  clear();
}

// Wine takes the user's language from the Unix locale once, at process start, with no way to
// change it inside the process: a run of its own sets LC_ALL and says what it expects.
void checkLanguage(const char *expectedId, const char *expectedSubdir) {
  EXPECT_EQ(GetUserDefaultLangID(), std::strtoul(expectedId, nullptr, 0), "GetUserDefaultLangID");
  EXPECT_EQ(std::string(su_GetLangSubdir().GetString()), expectedSubdir, "language subdirectory");
}

} // namespace vlx::check
