// Deleting preference keys and values, and what the fall-back shows afterwards.
#include "registry_helpers.h"
#include "support/temp_env.h"

#include <velmora/registry.h>

using namespace vlx::test;

namespace {

const char *general = "Software\\Velmora\\General";

class Deletion : public TempEnvTest {
protected:
  void setUser(const char *section, const char *name, int value) {
    ASSERT_EQ(regSetUserValue(section, name, intType, "", &value, nullptr), 1);
  }
};

TEST_F(Deletion, SectionKeyGoesWithItsValuesOnceFromTheGivenHiveOnly) {
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "General", ""), 0);
  EXPECT_EQ(regDelSoftwareValue("General", "a"), 0);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora")) << "nothing to delete made keys";

  int value = 1;
  ASSERT_EQ(regSetLocMachineValue("General", "a", intType, "", &value, nullptr), 1);
  setUser("General", "a", 1);
  setUser("General", "b", 2);
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "General", ""), 1);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, general));
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "General", ""), 0);
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, general));
  EXPECT_EQ(regDelSoftwareKey(HKEY_LOCAL_MACHINE, "General", ""), 1);
  EXPECT_FALSE(keyExists(HKEY_LOCAL_MACHINE, general));
}

TEST_F(Deletion, NamedSubkeyBelowAPath) {
  setUser("Tools\\Grid", "size", 5);
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "Missing", "Grid"), 0);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Missing"));
  // A key with subkeys is not deleted: the deletion is of one key only.
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "Tools", ""), 0);
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "Tools", "Grid"), 1);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Tools"));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Tools\\Grid"));
}

TEST_F(Deletion, ValueDeletionKeepsTheSectionAndUncoversTheMachineValue) {
  int machine = 2;
  ASSERT_EQ(regSetLocMachineValue("General", "Backup Copies", intType, "", &machine, nullptr),
            1);
  setUser("General", "Backup Copies", 5);
  EXPECT_EQ(regDelSoftwareValue("General", "Backup Copies"), 1);
  EXPECT_EQ(regDelSoftwareValue("General", "Backup Copies"), 0);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, general));
  int value = 0;
  CString unused;
  ASSERT_EQ(regGetUserValue("General", "Backup Copies", intType, unused, &value, nullptr), 1);
  EXPECT_EQ(value, 2);
}

} // namespace
