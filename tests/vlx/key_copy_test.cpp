// `vlx reg copy` and `vlx reg compare`, reg.exe's verbs on two keys.
#include "vlx_fixture.h"

#include <gtest/gtest.h>

namespace vlx::cli {
namespace {

const std::string kFrom = "HKCU\\Software\\Velmora\\From";
const std::string kTo = "HKCU\\Software\\Velmora\\To";

class KeyCopyTest : public VlxTest {
protected:
  void SetUp() override {
    VlxTest::SetUp();
    ok({"reg", "add", kFrom, "Count", "--type", "dword", "--data", "3"});
    ok({"reg", "add", kFrom + "\\Sub", "Text", "--data", "x"});
  }
};

TEST_F(KeyCopyTest, CopyIsAllOrNothingAndDryRunChangesNothing) {
  EXPECT_EQ(ok({"reg", "copy", kFrom, kTo, "-r", "--dry-run"}),
            "add key HKEY_CURRENT_USER\\Software\\Velmora\\To\n"
            "add HKEY_CURRENT_USER\\Software\\Velmora\\To \"Count\" = REG_DWORD 0x3 (3)\n"
            "add key HKEY_CURRENT_USER\\Software\\Velmora\\To\\Sub\n"
            "add HKEY_CURRENT_USER\\Software\\Velmora\\To\\Sub \"Text\" = REG_SZ x\n"
            "copy (dry run, nothing changed): 2 values added, 0 changed, 0 unchanged, 0 removed; "
            "2 keys added, 0 removed\n");
  fails({"reg", "query", kTo}, "not found");
  EXPECT_EQ(ok({"reg", "copy", kFrom, kTo}),
            "copy: 1 value added, 0 changed, 0 unchanged, 0 removed; 1 key added, 0 removed\n");
  fails({"reg", "query", kTo + "\\Sub"}, "not found"); // without -r the key's values alone
  fails({"reg", "copy", kFrom, kFrom + "\\Sub\\Deeper", "-r"}, "into itself", 2);
  fails({"reg", "copy", kFrom + "\\Missing", kTo}, "does not exist");
  // A refused key anywhere: nothing lands.
  fails({"reg", "copy", kFrom, "HKU\\S-1-5-18\\X", "-r"}, "(nothing copied)");
}

TEST_F(KeyCopyTest, CompareListsEachSideAndExitsOneWhenDifferent) {
  ok({"reg", "copy", kFrom, kTo, "-r"});
  EXPECT_EQ(ok({"reg", "compare", kFrom, kTo, "-r"}), "Result compared: identical\n");
  ok({"reg", "add", kTo, "Count", "--type", "dword", "--data", "4"});
  ok({"reg", "add", kTo + "\\Only"});
  const RunResult r = vlx({"reg", "compare", kFrom, kTo, "--recursive"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output,
            "< HKEY_CURRENT_USER\\Software\\Velmora\\From  Count  REG_DWORD  0x3 (3)\n"
            "> HKEY_CURRENT_USER\\Software\\Velmora\\To  Count  REG_DWORD  0x4 (4)\n"
            "> key HKEY_CURRENT_USER\\Software\\Velmora\\To\\Only\n"
            "Result compared: different\n"
            "vlx: HKEY_CURRENT_USER\\Software\\Velmora\\From and "
            "HKEY_CURRENT_USER\\Software\\Velmora\\To differ\n");
  // Without --recursive the keys' own values alone.
  EXPECT_EQ(vlx({"reg", "compare", kFrom + "\\Sub", kTo + "\\Sub"}).status, 0);
}

} // namespace
} // namespace vlx::cli
