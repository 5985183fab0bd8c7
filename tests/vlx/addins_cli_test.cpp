// Process tests of vlx addins, clsid and lang: an admin's .reg file, then the commands.
#include "support/expect_text.h"
#include "vlx_fixture.h"

namespace vlx::cli {
namespace {

const char kAlpha[] = "{0123ABCD-4567-89EF-0123-456789ABCD01}";
const char kBeta[] = "{0123ABCD-4567-89EF-0123-456789ABCD02}";

// What an admin imports to register add-ins for all users (Delta unreadable).
const char kInstallReg[] = "REGEDIT4\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Classes\\Vlx.Beta\\CLSID]\n"
                           "@=\"{0123ABCD-4567-89EF-0123-456789ABCD02}\"\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\"
                           "{0123abcd-4567-89ef-0123-456789abcd01}\\InprocServer32]\n"
                           "@=\"/opt/alpha/libalpha.so\"\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Applications\\Alpha]\n"
                           "\"CLSID\"=\"{0123abcd-4567-89ef-0123-456789abcd01}\"\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Applications\\Beta]\n"
                           "\"CLSID\"=\"Vlx.Beta\"\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Applications\\Delta]\n"
                           "\"CLSID\"=\"Vlx.Unknown\"\n\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Velmora\\Applications\\Lumivane]\n"
                           "\"CLSID\"=\"Vlx.Beta\"\n";

class AddinsCli : public VlxTest {
protected:
  void SetUp() override { ok({"reg", "import", write("install.reg", kInstallReg)}); }
};

TEST_F(AddinsCli, ListSaysWhereAndWhyItStopped) {
  RunResult r = vlx({"addins", "list"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, std::string("0\tAlpha\t") + kAlpha + "\n1\tBeta\t" + kBeta +
                          "\nvlx: listing stopped at position 2 of 4 ('Delta'): its CLSID value "
                          "'Vlx.Unknown' is not a class identifier or known ProgID\n");
}

TEST_F(AddinsCli, EnableStartupDisableFirstRun) {
  EXPECT_EQ(ok({"addins", "enable", "Beta", "Vlx.Beta"}),
            std::string("enabled Beta ") + kBeta + " at position 0\n");
  EXPECT_EQ(ok({"addins", "enable", "Alpha", "{0123abcd-4567-89ef-0123-456789abcd01}"}),
            std::string("enabled Alpha ") + kAlpha + " at position 0\n");
  EXPECT_EQ(ok({"addins", "startup"}),
            std::string("0\tAlpha\t") + kAlpha + "\n1\tBeta\t" + kBeta + "\n");
  EXPECT_EQ(ok({"addins", "disable", "alpha"}), "disabled Alpha (was at position 0)\n");
  fails({"addins", "disable", "Alpha"}, "no start-up entry 'Alpha'");
  fails({"addins", "enable", "Gamma", "Vlx.Missing"}, "unknown ProgID 'Vlx.Missing'");
  fails({"addins", "enable", "Gamma", "{0123ABCD-4567}"}, "malformed class identifier", 2);
  fails({"addins", "enable", "A\\B", kAlpha}, "NAME must be", 2);
  // The user has a list now, so first-run enabling is over.
  EXPECT_HAS(ok({"addins", "first-run"}), "already has a start-up list");
}

// Names are data: a line break, tab or escape code in one neither forges a row nor reaches the
// terminal.
TEST_F(AddinsCli, NamesAreEscapedInEveryListing) {
  const std::string forged = "Ev\nil\t9\x1b[2J";
  const std::string shown = "Ev\\nil\\t9\\x1b[2J";
  EXPECT_EQ(ok({"addins", "enable", forged, "Vlx.Beta"}),
            "enabled " + shown + " " + kBeta + " at position 0\n");
  EXPECT_EQ(ok({"addins", "startup"}), "0\t" + shown + "\t" + kBeta + "\n");
  EXPECT_EQ(ok({"addins", "disable", forged}), "disabled " + shown + " (was at position 0)\n");

  ok({"reg", "import",
      write("tab.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Velmora\\"
                       "Applications\\A\tB\x1b]\n\"CLSID\"=\"Vlx.Beta\"\n")});
  RunResult r = vlx({"addins", "list"});
  EXPECT_HAS(r.output, "\tA\\tB\\x1b\t" + std::string(kBeta) + "\n");
  EXPECT_LACKS(r.output, "\x1b");

  test::ScopedEnv all("LC_ALL", "de\n\x1b[31m");
  r = vlx({"lang"});
  EXPECT_EQ(r.output.rfind("locale:    LC_ALL=de\\n\\x1b[31m\n", 0), 0u) << r.output;
  EXPECT_LACKS(r.output, "\x1b");
}

TEST_F(AddinsCli, FirstRunEnablesTheSiblingForANewUser) {
  EXPECT_EQ(ok({"addins", "first-run"}),
            "enabled Lumivane: the user had no start-up list; it now holds the entry Lumivane\n");
  EXPECT_EQ(ok({"addins", "startup"}), std::string("0\tLumivane\t") + kBeta + "\n");
}

TEST_F(AddinsCli, ClsidPrintsARegisteredString) {
  EXPECT_EQ(ok({"clsid", kAlpha, "InprocServer32"}), "/opt/alpha/libalpha.so\n");
  fails({"clsid", kAlpha, "ProgID"}, "no value for");
}

TEST_F(AddinsCli, LangReportsTheDecidingVariableAndTheMissingDirectory) {
  // No lang directory is beside the built vlx: the library's message becomes the error line.
  test::ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", "de_CH.UTF-8");
  RunResult r = vlx({"lang"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output.rfind("locale:    LC_MESSAGES=de_CH.UTF-8\nlanguage:  0x0807\n"
                           "subdir:    \\lang\\german\nvlx: The ",
                           0),
            0u)
      << r.output;
  EXPECT_HAS(r.output, "\\lang\\german directory could not be found.  You may need to "
                       "reinstall.\n");
}

} // namespace
} // namespace vlx::cli
