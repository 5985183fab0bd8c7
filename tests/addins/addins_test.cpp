// The add-in lists, the class look-up below HKEY_CLASSES_ROOT\CLSID and first-run enabling.
#include "platform/registry/support.h"

#include <velmora/addins.h>

#include <cstdio>
#include <string>

namespace {

using regtest::Names;
const char kStartup[] = "Software\\Velmora\\Startup\\Applications";

GUID sampleClass(BYTE last) {
  return GUID{0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, last}};
}

// The braced text StringFromCLSID gives for sampleClass(last).
std::string sampleText(BYTE last) {
  char text[39];
  std::snprintf(text, sizeof text, "{0123ABCD-4567-89EF-0123-456789ABCD%02X}", last);
  return text;
}

// A string value (with its zero) of `type` at root\path, the key created where missing.
LONG setText(HKEY root, const std::string &path, const char *name, const std::string &text,
             DWORD type = REG_SZ) {
  regtest::Key k;
  LONG rc = regtest::createKey(root, path.c_str(), k);
  return rc != ERROR_SUCCESS
             ? rc
             : RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE *>(text.c_str()),
                              static_cast<DWORD>(text.size() + 1));
}

bool keyExists(HKEY root, const char *path) {
  regtest::Key k;
  return regtest::openKey(root, path, k) == ERROR_SUCCESS;
}

// The start-up list's entries in enumeration order, each as "name=default value".
Names startupEntries() {
  Names entries;
  regtest::Key list;
  if (regtest::openKey(HKEY_CURRENT_USER, kStartup, list) == ERROR_SUCCESS)
    for (const std::string &name : regtest::names(list)) {
      char text[300] = {};
      LONG size = sizeof text;
      RegQueryValueA(list, name.c_str(), text, &size);
      entries.push_back(name + "=" + text);
    }
  return entries;
}

class AddIns : public vlx::test::TempEnvTest {};

TEST_F(AddIns, ClassKeyFindsTheClassWhateverTheCaseOfItsKeyAndReadsOneString) {
  char progId[] = "PROGID", empty[] = "", full[] = "Full", tooLong[] = "TooLong",
       missing[] = "InprocServer32";
  CString value = "kept";
  EXPECT_EQ(regFromCLSIDKey(sampleClass(0x42), progId, value), 0); // no CLSID key at all

  // Classes before and after it; the sought one in lower-case digits, in the user's half.
  const std::string classes = "Software\\Classes\\CLSID\\";
  ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, classes + sampleText(0x01), nullptr, "first"), 0);
  ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, classes + sampleText(0x7F), nullptr, "last"), 0);
  EXPECT_EQ(regFromCLSIDKey(sampleClass(0x42), progId, value), 0); // not registered
  std::string key = classes + "{0123abcd-4567-89ef-0123-456789abcd42}";
  ASSERT_EQ(setText(HKEY_CURRENT_USER, key, nullptr, "Sample class"), 0);
  ASSERT_EQ(setText(HKEY_CURRENT_USER, key + "\\ProgID", nullptr, "Vlx.Sample.1"), 0);
  ASSERT_EQ(setText(HKEY_CURRENT_USER, key + "\\Full", nullptr, std::string(260, 'x')), 0);
  ASSERT_EQ(setText(HKEY_CURRENT_USER, key + "\\TooLong", nullptr, std::string(261, 'x')), 0);

  const std::tuple<char *, int, std::string> cases[] = {
      {progId, 1, "Vlx.Sample.1"},      {nullptr, 1, "Sample class"}, {empty, 1, "Sample class"},
      {full, 1, std::string(260, 'x')}, {tooLong, 0, "kept"},         {missing, 0, "kept"},
  };
  for (const auto &[subKey, result, expected] : cases) {
    SCOPED_TRACE(subKey ? subKey : "(null)");
    value = "kept";
    EXPECT_EQ(regFromCLSIDKey(sampleClass(0x42), subKey, value), result);
    EXPECT_EQ(std::string(value), expected);
  }
}

const char kSibling[] = "Software\\Velmora\\Applications\\Lumivane";

TEST_F(AddIns, FirstRunSiblingWithoutAReadableClassChangesNothing) {
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0); // not installed
  const std::tuple<const char *, std::string, DWORD> cases[] = {
      {"Other", sampleText(0x01), REG_SZ},
      {"CLSID", sampleText(0x01), REG_EXPAND_SZ},
      {"CLSID", std::string(261, '{'), REG_SZ},
      {"CLSID", "Vlx.Unknown", REG_SZ},
  };
  for (const auto &[name, text, type] : cases) {
    SCOPED_TRACE(text);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSibling);
    ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, kSibling, name, text, type), 0);
    EXPECT_EQ(regFirstTimeAddInLumivane(), 0);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kStartup));
  }
}

TEST_F(AddIns, FirstRunAddsTheSiblingOnceAndNeverAfterTheUserEmptiesTheList) {
  // The entry holds the class as StringFromCLSID writes it, not the text read (a ProgID there is
  // the vlx first-run test's).
  ASSERT_EQ(
      setText(HKEY_LOCAL_MACHINE, kSibling, "CLSID", "{0123abcd-4567-89ef-0123-456789abcd09}"), 0);
  EXPECT_EQ(regFirstTimeAddInLumivane(), 1);
  EXPECT_EQ(startupEntries(), Names{"Lumivane=" + sampleText(0x09)});
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0);

  regDeleteFromStartupList(0);
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kStartup));
  EXPECT_EQ(startupEntries(), Names{});
}

TEST_F(AddIns, InstalledListReadsByPositionAnUnreadableEntryAsTheEnd) {
  GUID clsid{};
  EXPECT_EQ(regEnumApplications(0, clsid, nullptr), 0); // no list
  const std::string installed = "Software\\Velmora\\Applications\\";
  ASSERT_EQ(
      setText(HKEY_CURRENT_USER, "Software\\Classes\\Vlx.Beta\\CLSID", nullptr, sampleText(0x02)),
      0);
  ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, installed + "Alpha", "CLSID", sampleText(0x01)), 0);
  ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, installed + "Beta", "CLSID", "Vlx.Beta"), 0);
  ASSERT_EQ(
      setText(HKEY_LOCAL_MACHINE, installed + "Delta", "CLSID", sampleText(0x04), REG_EXPAND_SZ),
      0);
  ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, installed + "Gamma", "Other", sampleText(0x05)), 0);
  ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, installed + "Zeta", "CLSID", sampleText(0x06)), 0);

  const std::tuple<int, const char *, BYTE> cases[] = {
      {0, "Alpha", 0x01}, {1, "Beta", 0x02}, {2, "kept", 0},  {3, "kept", 0},
      {4, "Zeta", 0x06},  {5, "kept", 0},    {-1, "kept", 0},
  };
  for (const auto &[index, name, last] : cases) {
    SCOPED_TRACE(index);
    if (!vlx::test::kProgIdsFollowHives && std::string(name) == "Beta")
      continue; // a ProgID
    CString got = "kept";
    EXPECT_EQ(regEnumApplications(index, clsid, &got), last != 0);
    EXPECT_EQ(std::string(got), name);
    EXPECT_TRUE(last == 0 || clsid == sampleClass(last));
  }
  EXPECT_EQ(regEnumApplications(1, clsid, nullptr), vlx::test::kProgIdsFollowHives);
}

TEST_F(AddIns, StartupListAddFindDelete) {
  // A user without a list: finding creates nothing, adding makes the whole path.
  EXPECT_EQ(regAddInStartup(sampleClass(0x01)), -1);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora"));
  regAddToStartupList(sampleClass(0x01), "Beta");
  regAddToStartupList(sampleClass(0x03), "Gamma");
  regAddToStartupList(sampleClass(0x03), "Alpha"); // one class under two names
  regAddToStartupList(sampleClass(0x04), "beta");  // the same name: the later class
  EXPECT_EQ(startupEntries(), (Names{"Alpha=" + sampleText(0x03), "Beta=" + sampleText(0x04),
                                     "Gamma=" + sampleText(0x03)}));

  int position = regAddInStartup(sampleClass(0x03));
  EXPECT_EQ(position, 0);
  regDeleteFromStartupList(position);
  regDeleteFromStartupList(2); // past the end
  EXPECT_EQ(startupEntries(), (Names{"Beta=" + sampleText(0x04), "Gamma=" + sampleText(0x03)}));
  EXPECT_EQ(regAddInStartup(sampleClass(0x03)), 1);
}

TEST_F(AddIns, UnreadableStartupEntryBeforeTheSoughtOneEndsTheSearch) {
  regAddToStartupList(sampleClass(0x05), "Zulu");
  const std::string alpha = std::string(kStartup) + "\\Alpha";
  for (const char *text : {"", "Vlx.Unknown"}) { // no default value, not a class
    SCOPED_TRACE(text);
    regtest::Key entry;
    ASSERT_EQ(regtest::createKey(HKEY_CURRENT_USER, alpha.c_str(), entry), ERROR_SUCCESS);
    if (*text) {
      ASSERT_EQ(RegSetValueA(entry, nullptr, REG_SZ, text, 0), ERROR_SUCCESS);
    }
    EXPECT_EQ(regAddInStartup(sampleClass(0x05)), -1);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, alpha.c_str()), ERROR_SUCCESS);
  }
  EXPECT_EQ(regAddInStartup(sampleClass(0x05)), 0);
}

TEST_F(AddIns, DeletingWithoutAListLeavesAnEmptyOne) {
  regDeleteFromStartupList(0);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kStartup));
  EXPECT_EQ(startupEntries(), Names{});
}

} // namespace
