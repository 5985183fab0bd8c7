// regFromCLSIDKey: the walk of HKEY_CLASSES_ROOT\CLSID and the strings read below a class.
#include "addins/addins_support.h"

using namespace addintest;

namespace {

class ClassKey : public vlx::test::TempEnvTest {};

TEST_F(ClassKey, FindsTheClassWhateverTheCaseOfItsKeyAndReadsOneString) {
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

} // namespace
