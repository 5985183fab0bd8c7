// Deleting preference keys. A value's deletion uncovering the machine's is the vlx pref test's
// (MachineValuesDeletionAndReset).
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
  int value = 1;
  ASSERT_EQ(regSetLocMachineValue("General", "a", intType, "", &value, nullptr), 1);
  setUser("General", "a", 1);
  setUser("General", "b", 2);
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "General", ""), 1);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, general));
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "General", ""), 0);
  // The machine's key stays: the hive given is the only one touched.
  EXPECT_TRUE(keyExists(HKEY_LOCAL_MACHINE, general));
}

TEST_F(Deletion, NamedSubkeyBelowAPath) {
  setUser("Tools\\Grid", "size", 5);
  // A key with subkeys is not deleted: the deletion is of one key only.
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "Tools", ""), 0);
  EXPECT_EQ(regDelSoftwareKey(HKEY_CURRENT_USER, "Tools", "Grid"), 1);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Tools"));
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora\\Tools\\Grid"));
}

} // namespace
