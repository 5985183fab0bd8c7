// Typed preference values: their stored form, the reader's limits and the hive fall-back.
#include "registry_helpers.h"
#include "support/temp_env.h"

#include <velmora/registry.h>

#include <string>

using namespace vlx::test;

namespace {

const char *general = "Software\\Velmora\\General";

class Preferences : public TempEnvTest {
protected:
  RawValue stored(const char *name) { return rawValue(HKEY_CURRENT_USER, general, name); }
};

TEST_F(Preferences, DoublesAreStoredAsShortestEighteenDigitText) {
  // Kinds other than int and string act as double.
  const struct Case {
    double value;
    const char *stored;
    int setKind = doubleType, getKind = doubleType;
  } cases[] = {
      {0.1, "0.100000000000000006"}, {1e300, "1.00000000000000005e+300"}, {0.25, "0.25", 3, 7}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.stored);
    double value = c.value, back = 0;
    CString unused;
    ASSERT_EQ(regSetUserValue("General", "d", valueTypes(c.setKind), "", nullptr, &value), 1);
    RawValue raw = stored("d");
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(raw.data, sz(c.stored));
    ASSERT_EQ(regGetUserValue("General", "d", valueTypes(c.getKind), unused, nullptr, &back), 1);
    EXPECT_EQ(back, c.value);
  }
}

// Integers stored as REG_DWORD and the empty string's round trip show through the vlx pref test
// (its string read of an int names REG_DWORD) and the fall-back test below.

TEST_F(Preferences, StringsLongerThan255CharactersAreWrittenButReadAsMissing) {
  for (int length : {255, 256}) {
    SCOPED_TRACE(length);
    CString text(std::string(static_cast<size_t>(length), 'x').c_str());
    ASSERT_EQ(regSetUserValue("General", "s", stringType, text, nullptr, nullptr), 1);
    EXPECT_EQ(stored("s").data.size(), static_cast<size_t>(length) + 1);
    CString back;
    EXPECT_EQ(regGetUserValue("General", "s", stringType, back, nullptr, nullptr),
              length == 255 ? 1 : 0);
    EXPECT_EQ(back.GetLength(), length == 255 ? 255 : 0);
  }
}

TEST_F(Preferences, WrongRegistryTypeReadsAsMissingAndLeavesOperands) {
  plantValue(HKEY_CURRENT_USER, general, "text5", REG_SZ, sz("5"));
  plantValue(HKEY_CURRENT_USER, general, "dword", REG_DWORD, dword(5));
  plantValue(HKEY_CURRENT_USER, general, "abc", REG_SZ, sz("abc"));
  int number = 42;
  double real = 4.5;
  CString text = "keep";
  EXPECT_EQ(regGetUserValue("General", "text5", intType, text, &number, &real), 0);
  // Doubles and strings share the REG_SZ check.
  EXPECT_EQ(regGetUserValue("General", "dword", doubleType, text, &number, &real), 0);
  // Text that is no number is found all the same, and leaves the double alone.
  EXPECT_EQ(regGetUserValue("General", "abc", doubleType, text, &number, &real), 1);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(real, 4.5);
  EXPECT_EQ(text, "keep");
}

TEST_F(Preferences, ReadFallsBackFromUserToMachineToDefaultUser) {
  int value = 0;
  CString unused;
  auto read = [&] {
    return regGetUserValue("General", "Backup Copies", intType, unused, &value, nullptr);
  };
  EXPECT_EQ(read(), 0);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora")) << "a read created keys";

  plantValue(HKEY_USERS, ".DEFAULT\\Software\\Velmora\\General", "Backup Copies", REG_DWORD,
             dword(1));
  ASSERT_EQ(read(), 1);
  EXPECT_EQ(value, 1);

  int machine = 2, user = 3;
  ASSERT_EQ(regSetLocMachineValue("General", "Backup Copies", intType, "", &machine, nullptr), 1);
  ASSERT_EQ(read(), 1);
  EXPECT_EQ(value, 2);

  ASSERT_EQ(regSetUserValue("General", "Backup Copies", intType, "", &user, nullptr), 1);
  ASSERT_EQ(read(), 1);
  EXPECT_EQ(value, 3);

  // Rewritten as a string, the user value is replaced, and the wrong type does not hide the
  // machine's.
  ASSERT_EQ(regSetUserValue("General", "Backup Copies", stringType, "3", nullptr, nullptr), 1);
  ASSERT_EQ(read(), 1);
  EXPECT_EQ(value, 2);
}

// The path a read asks for is joined in a buffer of its own up to some length and beyond it
// elsewhere: sections on either side of that length, for each hive of the fall-back.
TEST_F(Preferences, SectionsOfEveryLengthFallBackAlike) {
  CString unused;
  for (size_t length : {150, 165, 166, 167, 174, 175, 176, 200}) {
    const std::string section(length, 's');
    int value = 0, machine = 2, user = 3;
    auto read = [&] {
      return regGetUserValue(section.c_str(), "v", intType, unused, &value, nullptr);
    };
    plantValue(HKEY_USERS, ".DEFAULT\\Software\\Velmora\\" + section, "v", REG_DWORD, dword(1));
    ASSERT_EQ(read(), 1) << length;
    EXPECT_EQ(value, 1) << length;
    ASSERT_EQ(regSetLocMachineValue(section.c_str(), "v", intType, "", &machine, nullptr), 1);
    ASSERT_EQ(read(), 1) << length;
    EXPECT_EQ(value, 2) << length;
    ASSERT_EQ(regSetUserValue(section.c_str(), "v", intType, "", &user, nullptr), 1);
    ASSERT_EQ(read(), 1) << length;
    EXPECT_EQ(value, 3) << length;
    EXPECT_EQ(regGetUserValue((section + "x").c_str(), "v", intType, unused, &value, nullptr), 0);
  }
}

} // namespace
