// regFromCLSIDKey: the walk of HKEY_CLASSES_ROOT\CLSID and the strings read below a class.
#include "addins/addins_support.h"

using namespace addintest;
using namespace vlx::test;

namespace {

const char kClasses[] = "Software\\Classes\\CLSID\\";

class ClassKey : public TempEnvTest {};

TEST_F(ClassKey, FindsTheClassWhateverTheCaseOfItsKeyAndReadsOneString) {
  // Other classes before and after it; the sought one written in lower-case digits, in the
  // user's half of the classes root.
  setText(HKEY_LOCAL_MACHINE, kClasses + sampleText(0x01), nullptr, "first");
  setText(HKEY_LOCAL_MACHINE, kClasses + sampleText(0x7F), nullptr, "last");
  std::string lower = sampleText(0x42);
  for (char &c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  setText(HKEY_CURRENT_USER, kClasses + lower, nullptr, "Sample class");
  setText(HKEY_CURRENT_USER, kClasses + lower + "\\ProgID", nullptr, "Vlx.Sample.1");
  const std::string full(260, 'x');
  setText(HKEY_CURRENT_USER, kClasses + lower + "\\Full", nullptr, full);
  setText(HKEY_CURRENT_USER, kClasses + lower + "\\TooLong", nullptr, full + "y");

  struct Case {
    char *subKey;
    int result;
    std::string value;
  };
  char progId[] = "PROGID", empty[] = "", fullKey[] = "Full", tooLong[] = "TooLong",
       missing[] = "InprocServer32";
  const Case cases[] = {
      {progId, 1, "Vlx.Sample.1"}, {nullptr, 1, "Sample class"}, {empty, 1, "Sample class"},
      {fullKey, 1, full},          {tooLong, 0, "kept"},         {missing, 0, "kept"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.subKey ? c.subKey : "(null)");
    CString value = "kept";
    EXPECT_EQ(regFromCLSIDKey(sampleClass(0x42), c.subKey, value), c.result);
    EXPECT_EQ(std::string(value), c.value);
  }
}

TEST_F(ClassKey, UnregisteredClassOrNoClassRegistryGivesZero) {
  char progId[] = "ProgID";
  CString value = "kept";
  // No CLSID key at all.
  EXPECT_EQ(regFromCLSIDKey(sampleClass(0x42), progId, value), 0);
  setText(HKEY_LOCAL_MACHINE, kClasses + sampleText(0x01) + "\\ProgID", nullptr, "Other");
  EXPECT_EQ(regFromCLSIDKey(sampleClass(0x42), progId, value), 0);
  EXPECT_EQ(std::string(value), "kept");
}

} // namespace
