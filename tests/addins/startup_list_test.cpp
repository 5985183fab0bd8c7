// The installed add-in list and the user's start-up list.
#include "addins/addins_support.h"

using namespace addintest;
using namespace vlx::test;
using regtest::Names;

namespace {

const char kInstalled[] = "Software\\Velmora\\Applications\\";
const char kStartup[] = "Software\\Velmora\\Startup\\Applications";

class InstalledAddIns : public TempEnvTest {};

TEST_F(InstalledAddIns, ListsByPositionAndStopsAtAnUnreadableEntry) {
  setText(HKEY_CURRENT_USER, "Software\\Classes\\Vlx.Beta\\CLSID", nullptr, sampleText(0x02));
  setText(HKEY_LOCAL_MACHINE, std::string(kInstalled) + "Alpha", "CLSID", sampleText(0x01));
  setText(HKEY_LOCAL_MACHINE, std::string(kInstalled) + "Beta", "CLSID", "Vlx.Beta");
  setText(HKEY_LOCAL_MACHINE, std::string(kInstalled) + "Delta", "CLSID", sampleText(0x04),
          REG_EXPAND_SZ);
  setText(HKEY_LOCAL_MACHINE, std::string(kInstalled) + "Epsilon", "CLSID", "Vlx.Unknown");
  setText(HKEY_LOCAL_MACHINE, std::string(kInstalled) + "Eta", "CLSID", std::string(261, 'x'));
  regtest::Key gamma;
  ASSERT_EQ(regtest::createKey(HKEY_LOCAL_MACHINE, "Software\\Velmora\\Applications\\Gamma", gamma),
            ERROR_SUCCESS);
  setText(HKEY_LOCAL_MACHINE, std::string(kInstalled) + "Zeta", "CLSID", sampleText(0x06));

  struct Case {
    int index;
    int result;
    const char *name;
    BYTE last;
  };
  // Alpha, Beta, Delta, Epsilon, Eta, Gamma, Zeta: only the readable ones give 1.
  const Case cases[] = {
      {0, 1, "Alpha", 0x01}, {1, 1, "Beta", 0x02}, {2, 0, "kept", 0},
      {3, 0, "kept", 0},     {4, 0, "kept", 0},    {5, 0, "kept", 0},
      {6, 1, "Zeta", 0x06},  {7, 0, "kept", 0},    {-1, 0, "kept", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.index);
    GUID clsid{};
    CString name = "kept";
    EXPECT_EQ(regEnumApplications(c.index, clsid, &name), c.result);
    EXPECT_EQ(std::string(name), c.name);
    if (c.result) {
      EXPECT_TRUE(clsid == sampleClass(c.last));
    }
  }
  GUID clsid{};
  EXPECT_EQ(regEnumApplications(0, clsid, nullptr), 1);
  EXPECT_TRUE(clsid == sampleClass(0x01));
}

TEST_F(InstalledAddIns, MissingListGivesZero) {
  GUID clsid{};
  EXPECT_EQ(regEnumApplications(0, clsid, nullptr), 0);
}

class StartupList : public TempEnvTest {};

TEST_F(StartupList, AddFindDeleteCycle) {
  // No Software\Velmora yet: the whole path is made.
  regAddToStartupList(sampleClass(0x01), "Beta");
  regAddToStartupList(sampleClass(0x02), "Alpha");
  regAddToStartupList(sampleClass(0x03), "Gamma");
  EXPECT_EQ(startupNames(), (Names{"Alpha", "Beta", "Gamma"}));
  EXPECT_EQ(startupText("Beta"), sampleText(0x01));

  // The same name again: one entry holding the later class.
  regAddToStartupList(sampleClass(0x04), "beta");
  EXPECT_EQ(startupNames(), (Names{"Alpha", "Beta", "Gamma"}));
  EXPECT_EQ(startupText("Beta"), sampleText(0x04));

  int position = regAddInStartup(sampleClass(0x03));
  EXPECT_EQ(position, 2);
  regDeleteFromStartupList(position);
  EXPECT_EQ(startupNames(), (Names{"Alpha", "Beta"}));
  EXPECT_EQ(regAddInStartup(sampleClass(0x03)), -1);

  // Past the end: nothing changes.
  regDeleteFromStartupList(2);
  regDeleteFromStartupList(-1);
  EXPECT_EQ(startupNames(), (Names{"Alpha", "Beta"}));
}

TEST_F(StartupList, FirstOfTwoNamesForOneClassIsFound) {
  regAddToStartupList(sampleClass(0x05), "Zulu");
  regAddToStartupList(sampleClass(0x01), "Alpha");
  regAddToStartupList(sampleClass(0x05), "Mike");
  EXPECT_EQ(regAddInStartup(sampleClass(0x05)), 1);
}

TEST_F(StartupList, UnreadableEntryBeforeTheSoughtOneEndsTheSearch) {
  regAddToStartupList(sampleClass(0x05), "Zulu");
  struct Case {
    const char *what;
    std::string text; // empty: the entry has no default value
  };
  const Case cases[] = {{"no default value", ""}, {"not a class", "Vlx.Unknown"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    regtest::Key entry;
    ASSERT_EQ(regtest::createKey(HKEY_CURRENT_USER,
                                 "Software\\Velmora\\Startup\\Applications\\Alpha", entry),
              ERROR_SUCCESS);
    if (!c.text.empty()) {
      ASSERT_EQ(RegSetValueA(entry, nullptr, REG_SZ, c.text.c_str(), 0), ERROR_SUCCESS);
    }
    EXPECT_EQ(regAddInStartup(sampleClass(0x05)), -1);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Velmora\\Startup\\Applications\\Alpha"),
              ERROR_SUCCESS);
  }
  EXPECT_EQ(regAddInStartup(sampleClass(0x05)), 0);
}

TEST_F(StartupList, UserWithoutAList) {
  // Finding creates nothing; deleting leaves an empty list behind.
  EXPECT_EQ(regAddInStartup(sampleClass(0x01)), -1);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora"));
  regDeleteFromStartupList(0);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kStartup));
  EXPECT_EQ(startupNames(), Names{});
}

} // namespace
