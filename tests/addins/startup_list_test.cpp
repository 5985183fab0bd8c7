// The installed add-in list and the user's start-up list.
#include "addins/addins_support.h"

using namespace addintest;

namespace {

class AddInLists : public vlx::test::TempEnvTest {};

TEST_F(AddInLists, InstalledListReadsByPositionAnUnreadableEntryAsTheEnd) {
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

TEST_F(AddInLists, StartupListAddFindDelete) {
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

TEST_F(AddInLists, UnreadableStartupEntryBeforeTheSoughtOneEndsTheSearch) {
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

TEST_F(AddInLists, DeletingWithoutAListLeavesAnEmptyOne) {
  regDeleteFromStartupList(0);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kStartup));
  EXPECT_EQ(startupEntries(), Names{});
}

} // namespace
