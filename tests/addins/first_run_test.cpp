// regFirstTimeAddInLumivane: the sibling add-in enabled once, for a user without a start-up list.
#include "addins/addins_support.h"

using namespace addintest;
using namespace vlx::test;
using regtest::Names;

namespace {

const char kSibling[] = "Software\\Velmora\\Applications\\Lumivane";
const char kStartup[] = "Software\\Velmora\\Startup\\Applications";

class FirstRun : public TempEnvTest {};

TEST_F(FirstRun, SiblingWithoutAReadableClassChangesNothing) {
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0);
  struct Case {
    const char *what;
    const char *name;
    std::string text;
    DWORD type;
  };
  const Case cases[] = {
      {"no CLSID value", "Other", sampleText(0x01), REG_SZ},
      {"expandable string", "CLSID", sampleText(0x01), REG_EXPAND_SZ},
      {"261 characters", "CLSID", std::string(261, '{'), REG_SZ},
      {"not a class", "CLSID", "Vlx.Unknown", REG_SZ},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, kSibling),
              keyExists(HKEY_LOCAL_MACHINE, kSibling) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    setText(HKEY_LOCAL_MACHINE, kSibling, c.name, c.text, c.type);
    EXPECT_EQ(regFirstTimeAddInLumivane(), 0);
    EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, kStartup));
  }
}

TEST_F(FirstRun, AddsTheSiblingOnceAndNeverAfterTheUserEmptiesTheList) {
  // A ProgID resolves; the entry holds the braced text of its class.
  setText(HKEY_LOCAL_MACHINE, "Software\\Classes\\Vlx.Lumivane\\CLSID", nullptr, sampleText(0x09));
  setText(HKEY_LOCAL_MACHINE, kSibling, "CLSID", "Vlx.Lumivane");
  EXPECT_EQ(regFirstTimeAddInLumivane(), 1);
  EXPECT_EQ(startupNames(), Names{"Lumivane"});
  EXPECT_EQ(startupText("Lumivane"), sampleText(0x09));
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0);

  regDeleteFromStartupList(regAddInStartup(sampleClass(0x09)));
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kStartup));
  EXPECT_EQ(startupNames(), Names{});
}

TEST_F(FirstRun, ExistingEmptyListIsLeftAlone) {
  setText(HKEY_LOCAL_MACHINE, kSibling, "CLSID", sampleText(0x09));
  regtest::Key list;
  ASSERT_EQ(regtest::createKey(HKEY_CURRENT_USER, kStartup, list), ERROR_SUCCESS);
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0);
  EXPECT_EQ(startupNames(), Names{});
}

} // namespace
