// `vlx sheet` names why a spreadsheet server was not loaded.
#include "vlx_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace vlx::cli {
namespace {

TEST_F(VlxTest, SheetNamesWhyTheServerWasRefused) {
  const std::string server = write("server.so", "not looked at\n");
  ASSERT_EQ(chmod(server.c_str(), 0666), 0);
  const std::string clsid = "{00024500-0000-0000-C000-000000000046}";
  ok({"reg", "import",
      write("server.reg", "REGEDIT4\n\n"
                          "[HKEY_CURRENT_USER\\Software\\Classes\\Excel.Application\\CLSID]\n"
                          "@=\"" +
                              clsid +
                              "\"\n\n"
                              "[HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\" +
                              clsid + "\\InprocServer32]\n@=\"" + server + "\"\n")});
  fails({"sheet", "get", write("book.xlsx", "x"), "A1"},
        "cannot start the spreadsheet: server library " + server + " not loaded: " + server +
            " is writable by group and others");
}

// Registering runs the library's code, as root for the machine: the same rule holds.
TEST_F(VlxTest, RegisterLoadsOnlyALibraryNoOtherUserCanChange) {
  const std::string server = write("server.so", "not looked at\n");
  ASSERT_EQ(chmod(server.c_str(), 0666), 0);
  fails({"sheet", "register", server},
        "cannot load the spreadsheet server " + server + ": " + server +
            " is writable by group and others");
  fails({"sheet", "register", server + ".missing"},
        "cannot load the spreadsheet server " + server + ".missing: no such library");
}

} // namespace
} // namespace vlx::cli
