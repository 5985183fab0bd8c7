// AfxGetClassIDFromString: braced text or a ProgID, from narrow text.
#include "support/temp_env.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

using namespace vlx::test;

namespace {

const GUID kSample = {0x0123ABCD, 0x4567, 0x89EF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

class ClassIdFromString : public TempEnvTest {};

TEST_F(ClassIdFromString, BracedTextOrRegisteredProgId) {
  for (const char *progId : {"Vlx.Sample", "{Vlx.Sample"}) {
    CString key = CString("Software\\Classes\\") + progId + "\\CLSID";
    ASSERT_EQ(
        RegSetValueA(HKEY_CURRENT_USER, key, REG_SZ, "{0123ABCD-4567-89EF-0123-456789ABCDEF}", 0),
        ERROR_SUCCESS);
  }
  struct Case {
    const char *text;
    HRESULT result;
  };
  const Case cases[] = {
      {"{0123abcd-4567-89ef-0123-456789abcdef}", S_OK},
      {"Vlx.Sample", S_OK},
      {"Vlx.Missing", CO_E_CLASSSTRING},
      // A brace means the braced form only: no fall-back to the ProgID look-up.
      {"{Vlx.Sample", CO_E_CLASSSTRING},
      {"", CO_E_CLASSSTRING},
      {"\xC3(", CO_E_CLASSSTRING},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    GUID g{};
    EXPECT_EQ(AfxGetClassIDFromString(c.text, &g), c.result);
    if (c.result == S_OK) {
      EXPECT_TRUE(g == kSample);
    }
  }
  GUID g{};
  EXPECT_EQ(AfxGetClassIDFromString(nullptr, &g), E_INVALIDARG);
}

} // namespace
