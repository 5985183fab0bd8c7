// `vlx sheet register --unregister` removes a registration by its keys alone, and the messages
// of a refused write or a missing server say what to do.
#include "support/expect_text.h"
#include "vlx_fixture.h"

#include <vlx/store/reg_store.h>

#include <gtest/gtest.h>

#include <unistd.h>

namespace vlx::cli {
namespace {

const std::string kClsid = "{00024500-0000-0000-C000-000000000046}";
const std::string kOther = "{11111111-2222-3333-4444-555555555555}";
const std::string kClasses = "HKEY_LOCAL_MACHINE\\Software\\Classes\\";

// A class and its ProgID in the machine hive, naming `server`, as DllRegisterServer writes them.
std::string registration(const std::string &clsid, const std::string &progId,
                         const std::string &server) {
  return "[" + kClasses + "CLSID\\" + clsid + "]\n@=\"a server\"\n\n[" + kClasses + "CLSID\\" +
         clsid + "\\InprocServer32]\n@=\"" + server + "\"\n\n[" + kClasses + "CLSID\\" + clsid +
         "\\ProgID]\n@=\"" + progId + "\"\n\n[" + kClasses + progId + "\\CLSID]\n@=\"" + clsid +
         "\"\n\n";
}

class SheetRegisterTest : public VlxTest {
protected:
  void SetUp() override {
    VlxTest::SetUp();
    gone_ = dir_.file("removed/libvelmora_calc.so");
    ok({"reg", "import",
        write("servers.reg", "REGEDIT4\n\n" + registration(kClsid, "Excel.Application", gone_) +
                                 registration(kOther, "Other.Application", "/opt/other.so"))});
  }
  bool exists(const std::string &key) { return vlx({"reg", "query", key}).status == 0; }

  std::string gone_;
};

// The library is gone: nothing is loaded, the keys that name its path go, others stay; a second
// run finds nothing and succeeds, as a package's maintainer script needs.
TEST_F(SheetRegisterTest, UnregistersAPathWithoutLoadingIt) {
  EXPECT_EQ(ok({"sheet", "register", "--unregister", gone_}),
            "unregistered " + kClsid + ", which named " + gone_ + "\n");
  EXPECT_FALSE(exists(kClasses + "CLSID\\" + kClsid));
  EXPECT_FALSE(exists(kClasses + "Excel.Application"));
  EXPECT_TRUE(exists(kClasses + "CLSID\\" + kOther));
  EXPECT_TRUE(exists(kClasses + "Other.Application"));
  EXPECT_EQ(ok({"sheet", "register", "-u", gone_}),
            "nothing to unregister: no class names " + gone_ + "\n");
}

TEST_F(SheetRegisterTest, UnregistersTheClassWithoutAPath) {
  EXPECT_EQ(ok({"sheet", "register", "--unregister"}),
            "unregistered " + kClsid + " of Excel.Application\n");
  EXPECT_FALSE(exists(kClasses + "CLSID\\" + kClsid));
  EXPECT_TRUE(exists(kClasses + "CLSID\\" + kOther));
  EXPECT_EQ(ok({"sheet", "register", "--unregister"}),
            "nothing to unregister: no class is registered for Excel.Application\n");
}

// The build tree has no server beside vlx: registering needs its path.
TEST_F(VlxTest, RegisterWithoutAServerSaysToNameOne) {
  fails({"sheet", "register"}, "no server library beside vlx; name one", 2);
}

// What is missing, and the one command that mends it, with sudo for a user other than root.
TEST_F(VlxTest, NoServerAdviceNamesWhatIsMissing) {
  const std::string sudo = geteuid() == 0 ? "" : "sudo ";
  const std::string advice = access("/usr/lib/libreoffice/program/soffice", X_OK) != 0
                                 ? "LibreOffice Calc is not installed"
                                 : "the spreadsheet server is not installed; install it: " + sudo +
                                       "apt-get install velmora-calc-server";
  fails({"sheet", "get", write("book.xlsx", "x"), "A1"},
        "no spreadsheet server is registered for Excel.Application: " + advice);
}

TEST(WriteErrorText, DeniedNamesTheFileAndRootForTheMachine) {
  EXPECT_EQ(writeErrorText(Hive::Machine, ERROR_ACCESS_DENIED, 1000),
            "access denied to HKEY_LOCAL_MACHINE, the file " + hivePath(Hive::Machine) +
                ": writing it needs root (sudo vlx ...)");
  EXPECT_EQ(writeErrorText(Hive::DefaultUser, ERROR_ACCESS_DENIED, 0),
            "access denied to HKEY_USERS\\.DEFAULT, the file " + hivePath(Hive::DefaultUser));
  EXPECT_EQ(writeErrorText(Hive::User, ERROR_ACCESS_DENIED, 1000),
            "access denied to HKEY_CURRENT_USER, the file " + hivePath(Hive::User));
  EXPECT_EQ(writeErrorText(Hive::Machine, ERROR_DISK_FULL, 1000), "disk full");
}

// A refused delete says nothing was deleted, not imported.
TEST_F(VlxTest, RefusedDeleteSpeaksOfDeleting) {
  const RunResult r = fails({"reg", "delete", "HKLM\\Software"}, "(nothing deleted)");
  EXPECT_LACKS(r.output, "import");
}

} // namespace
} // namespace vlx::cli
