// The README's host program against a real soffice: started as a host starts it, with the
// server registered in the test's hives, on a workbook written here.
#include "support/temp_env.h"
#include "xlsx_writer.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <utility>

namespace {

using vlx::test::runCommand;

class CalcFirstWorkbookTest : public vlx::test::TempEnvTest {};

TEST_F(CalcFirstWorkbookTest, ProgramSavesWhatItWroteAndReportsTheFault) {
  void *server = ::dlopen(VLX_CALC_SERVER, RTLD_NOW);
  ASSERT_NE(server, nullptr) << ::dlerror();
  auto registerServer = reinterpret_cast<HRESULT (*)()>(::dlsym(server, "DllRegisterServer"));
  ASSERT_NE(registerServer, nullptr);
  ASSERT_EQ(registerServer(), S_OK);

  const std::string book = dir_.file("book.xlsx"), copy = dir_.file("copy.xlsx");
  vlx::calc::test::XlsxBook fixture{false, {}, {{"Sheet1", {}, false}}};
  for (auto [ref, value] :
       {std::pair{"A1", "41"}, {"A2", "1"}, {"B2", "2"}, {"A3", "3"}, {"B3", "4"}})
    fixture.sheets[0].cells.push_back({ref, "", value, "", 0});
  fixture.sheets[0].cells.push_back({"A4", "", "45351", "", 14}); // a date: 29 February 2024
  vlx::calc::test::writeXlsx(book, fixture);

  // Every process its own office, ended with it: nothing outlives the test.
  vlx::test::ScopedEnv ownOffice("VELMORA_CALC_KEEP_SECONDS", "0");
  auto run = runCommand({VLX_FIRST_WORKBOOK, book, copy});
  EXPECT_EQ(run.status, 0) << run.output;
  const std::string missing = (std::filesystem::current_path() / "no-such-book.xlsx").string();
  EXPECT_EQ(run.output, "A1 held 41\nA4 holds 2024-02-29\nOpen failed: Workbooks.Open: '" + missing +
                            "' could not be found: No such file or directory\n");
  // Save wrote the workbook, SaveAs the copy, each with the cell and the doubled block.
  for (const std::string &saved : {book, copy}) {
    SCOPED_TRACE(saved);
    auto cells = runCommand({VLX_BINARY, "sheet", "get", saved, "A1:D3"});
    EXPECT_EQ(cells.status, 0);
    EXPECT_EQ(cells.output, "42\t\t\t\n1\t2\t2\t4\n3\t4\t6\t8\n");
    // The date went out through COleVariant(COleDateTime) and came back a day later.
    auto dates = runCommand({VLX_BINARY, "sheet", "get", saved, "A4:A5"});
    EXPECT_EQ(dates.output, "2/29/2024\n3/1/2024\n");
  }
}

} // namespace
