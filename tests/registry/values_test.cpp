// Typed preference values: their stored form, the reader's limits and the hive fall-back.
#include "registry_helpers.h"
#include "support/temp_env.h"

#include <velmora/registry.h>

#include <cstring>
#include <string>

using namespace vlx::test;

namespace {

const char *general = "Software\\Velmora\\General";

class Preferences : public TempEnvTest {};

std::string bytes(const char *text) { return std::string(text, std::strlen(text) + 1); }

TEST_F(Preferences, DoublesAreStoredAsShortestEighteenDigitText) {
  struct Case {
    double value;
    const char *stored;
  } cases[] = {{0.1, "0.100000000000000006"}, {1.0, "1"}, {-2.5, "-2.5"}, {1e300, "1.00000000000000005e+300"}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.stored);
    double value = c.value;
    ASSERT_EQ(regSetUserValue("General", "d", doubleType, "", nullptr, &value), 1);
    RawValue raw = rawValue(HKEY_CURRENT_USER, general, "d");
    EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(raw.data, bytes(c.stored));
    double back = 0;
    CString unused;
    ASSERT_EQ(regGetUserValue("General", "d", doubleType, unused, nullptr, &back), 1);
    EXPECT_EQ(back, c.value);
  }
}

TEST_F(Preferences, IntegersAndStringsKeepTheirRegistryForm) {
  int number = -7;
  ASSERT_EQ(regSetUserValue("General", "i", intType, "", &number, nullptr), 1);
  RawValue raw = rawValue(HKEY_CURRENT_USER, general, "i");
  EXPECT_EQ(raw.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(raw.data, std::string("\xf9\xff\xff\xff", 4));

  ASSERT_EQ(regSetUserValue("General", "empty", stringType, "", nullptr, nullptr), 1);
  raw = rawValue(HKEY_CURRENT_USER, general, "empty");
  EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(raw.data, std::string(1, '\0'));
  CString text = "unchanged";
  ASSERT_EQ(regGetUserValue("General", "empty", stringType, text, nullptr, nullptr), 1);
  EXPECT_TRUE(text.IsEmpty());
}

TEST_F(Preferences, StringsLongerThan255CharactersAreWrittenButReadAsMissing) {
  for (int length : {255, 256}) {
    SCOPED_TRACE(length);
    CString text(std::string(static_cast<size_t>(length), 'x').c_str());
    ASSERT_EQ(regSetUserValue("General", "s", stringType, text, nullptr, nullptr), 1);
    EXPECT_EQ(rawValue(HKEY_CURRENT_USER, general, "s").data.size(),
              static_cast<size_t>(length) + 1);
    CString back;
    EXPECT_EQ(regGetUserValue("General", "s", stringType, back, nullptr, nullptr),
              length == 255 ? 1 : 0);
    EXPECT_EQ(back.GetLength(), length == 255 ? 255 : 0);
  }
}

TEST_F(Preferences, WrongRegistryTypeReadsAsMissingAndLeavesOperands) {
  plantValue(HKEY_CURRENT_USER, general, "text5", REG_SZ, bytes("5"));
  plantValue(HKEY_CURRENT_USER, general, "dword", REG_DWORD, std::string("\x05\0\0\0", 4));
  plantValue(HKEY_CURRENT_USER, general, "binary", REG_BINARY, std::string("\x05\0\0\0", 4));
  int number = 42;
  double real = 4.5;
  CString text = "keep";
  EXPECT_EQ(regGetUserValue("General", "text5", intType, text, &number, &real), 0);
  EXPECT_EQ(regGetUserValue("General", "binary", intType, text, &number, &real), 0);
  EXPECT_EQ(regGetUserValue("General", "dword", doubleType, text, &number, &real), 0);
  EXPECT_EQ(regGetUserValue("General", "dword", stringType, text, &number, &real), 0);
  EXPECT_EQ(number, 42);
  EXPECT_EQ(real, 4.5);
  EXPECT_EQ(text, "keep");
}

TEST_F(Preferences, NonNumericDoubleTextIsFoundButLeavesTheValue) {
  plantValue(HKEY_CURRENT_USER, general, "d", REG_SZ, bytes("abc"));
  double real = 4.5;
  CString unused;
  EXPECT_EQ(regGetUserValue("General", "d", doubleType, unused, nullptr, &real), 1);
  EXPECT_EQ(real, 4.5);
}

TEST_F(Preferences, KindsOtherThanIntAndStringActAsDouble) {
  double real = 0.25;
  ASSERT_EQ(regSetUserValue("General", "k", static_cast<valueTypes>(3), "", nullptr, &real), 1);
  EXPECT_EQ(rawValue(HKEY_CURRENT_USER, general, "k").data, bytes("0.25"));
  double back = 0;
  CString unused;
  ASSERT_EQ(regGetUserValue("General", "k", static_cast<valueTypes>(7), unused, nullptr, &back),
            1);
  EXPECT_EQ(back, 0.25);
}

TEST_F(Preferences, RewritingUnderAnotherTypeReplacesTheValue) {
  int number = 3;
  ASSERT_EQ(regSetUserValue("General", "v", intType, "", &number, nullptr), 1);
  ASSERT_EQ(regSetUserValue("General", "v", stringType, "three", nullptr, nullptr), 1);
  RawValue raw = rawValue(HKEY_CURRENT_USER, general, "v");
  EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(raw.data, bytes("three"));
}

TEST_F(Preferences, ReadFallsBackFromUserToMachineToDefaultUser) {
  int value = 0;
  CString unused;
  EXPECT_EQ(regGetUserValue("General", "Backup Copies", intType, unused, &value, nullptr), 0);
  EXPECT_FALSE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora")) << "a read created keys";

  plantValue(HKEY_USERS, ".DEFAULT\\Software\\Velmora\\General", "Backup Copies", REG_DWORD,
             std::string("\x01\0\0\0", 4));
  ASSERT_EQ(regGetUserValue("General", "Backup Copies", intType, unused, &value, nullptr), 1);
  EXPECT_EQ(value, 1);

  int machine = 2, user = 3;
  ASSERT_EQ(
      regSetLocMachineValue("General", "Backup Copies", intType, "", &machine, nullptr), 1);
  ASSERT_EQ(regGetUserValue("General", "Backup Copies", intType, unused, &value, nullptr), 1);
  EXPECT_EQ(value, 2);

  ASSERT_EQ(regSetUserValue("General", "Backup Copies", intType, "", &user, nullptr), 1);
  ASSERT_EQ(regGetUserValue("General", "Backup Copies", intType, unused, &value, nullptr), 1);
  EXPECT_EQ(value, 3);

  // A user value of the wrong type does not hide the machine's.
  ASSERT_EQ(regSetUserValue("General", "Backup Copies", stringType, "3", nullptr, nullptr), 1);
  ASSERT_EQ(regGetUserValue("General", "Backup Copies", intType, unused, &value, nullptr), 1);
  EXPECT_EQ(value, 2);
}

TEST_F(Preferences, WritingCreatesTheProductAndSectionKeys) {
  CString text = "hello";
  ASSERT_EQ(regSetUserValue("New Section", "greeting", stringType, text, nullptr, nullptr), 1);
  EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, "Software\\Velmora\\New Section"));
  EXPECT_EQ(text, "hello");
  CString back;
  ASSERT_EQ(regGetUserValue("new section", "GREETING", stringType, back, nullptr, nullptr), 1);
  EXPECT_EQ(back, "hello");
}

} // namespace
