// AfxGetClassIDFromString: braced text or a ProgID, from narrow text.
#include "support/temp_env.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

namespace {

class ClassIdFromString : public vlx::test::TempEnvTest {};

TEST_F(ClassIdFromString, BraceChoosesTheBracedFormElseTheProgId) {
  // The same name with a brace registered as a ProgID too: a brace never falls back to it.
  for (const char *progId : {"Vlx.Sample", "{Vlx.Sample"}) {
    CString key = CString("Software\\Classes\\") + progId + "\\CLSID";
    ASSERT_EQ(
        RegSetValueA(HKEY_CURRENT_USER, key, REG_SZ, "{0123ABCD-4567-89EF-0123-456789ABCDEF}", 0),
        ERROR_SUCCESS);
  }
  const std::pair<const char *, HRESULT> cases[] = {
      {"{0123abcd-4567-89ef-0123-456789abcdef}", S_OK},
      {"Vlx.Sample", S_OK},
      {"Vlx.Missing", CO_E_CLASSSTRING},
      {"{Vlx.Sample", CO_E_CLASSSTRING},
      {"\xC3(", CO_E_CLASSSTRING},
  };
  for (const auto &[text, result] : cases) {
    SCOPED_TRACE(text);
    if (!vlx::test::kProgIdsFollowHives && std::string(text) == "Vlx.Sample")
      continue;
    GUID g{};
    EXPECT_EQ(AfxGetClassIDFromString(text, &g), result);
    EXPECT_EQ(g.Data1 == 0x0123ABCD, result == S_OK);
  }
}

} // namespace
