// regFirstTimeAddInLumivane: the sibling add-in enabled once, for a user without a start-up list.
#include "addins/addins_support.h"

using namespace addintest;

namespace {

const char kSibling[] = "Software\\Velmora\\Applications\\Lumivane";

class FirstRun : public vlx::test::TempEnvTest {};

TEST_F(FirstRun, SiblingWithoutAReadableClassChangesNothing) {
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

TEST_F(FirstRun, AddsTheSiblingOnceAndNeverAfterTheUserEmptiesTheList) {
  if (!vlx::test::kProgIdsFollowHives)
    GTEST_SKIP() << "the system's ProgID look-up does not see this test's classes";
  // A ProgID resolves; the entry holds the braced text of its class.
  ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, "Software\\Classes\\Vlx.Lumivane\\CLSID", nullptr,
                    sampleText(0x09)),
            0);
  ASSERT_EQ(setText(HKEY_LOCAL_MACHINE, kSibling, "CLSID", "Vlx.Lumivane"), 0);
  EXPECT_EQ(regFirstTimeAddInLumivane(), 1);
  EXPECT_EQ(startupEntries(), Names{"Lumivane=" + sampleText(0x09)});
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0);

  regDeleteFromStartupList(0);
  EXPECT_EQ(regFirstTimeAddInLumivane(), 0);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, kStartup));
  EXPECT_EQ(startupEntries(), Names{});
}

} // namespace
