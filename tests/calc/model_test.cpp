// The spreadsheet objects over a real soffice: walking, reading and writing, saving, the
// emulated members, and the faults a host must see.
#include "model.h"
#include "support/temp_env.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace vlx::calc {
namespace {

using css::uno::Any;

class CalcModelTest : public ::testing::Test {
protected:
  static void TearDownTestSuite() { Office::instance().stop(); }

  static Any call(const Object &self, const char *name, const Args &args = {}) {
    const Member *member = findMember(self.kind, std::string_view(name));
    if (!member)
      throw std::logic_error(std::string("no member ") + name);
    return invoke(*member, self, args);
  }
  static void put(const Object &self, const char *name, const Any &value) {
    invoke(*findMember(self.kind, std::string_view(name)), self, {}, &value);
  }
  static Object object(const Object &self, const char *name, const Args &args = {}) {
    const Member *member = findMember(self.kind, std::string_view(name));
    if (!member)
      throw std::logic_error(std::string("no member ") + name);
    return answerObject(*member, self, invoke(*member, self, args));
  }
  static std::string text(const Any &value) {
    OUString s;
    EXPECT_TRUE(value >>= s) << value.getValueTypeName();
    return toString(s);
  }
  static double number(const Any &value) {
    double d = 0;
    EXPECT_TRUE(value >>= d) << value.getValueTypeName();
    return d;
  }
  static Any str(const char *s) { return Any(OUString::createFromAscii(s)); }
  static Fault faultOf(const std::function<void()> &f) {
    try {
      f();
    } catch (const CalcError &e) {
      EXPECT_NE(std::string(e.what()), "");
      return e.fault();
    }
    ADD_FAILURE() << "no CalcError";
    return Fault::Failed;
  }

  void SetUp() override {
    book_ = object(object(app_, "Workbooks"), "Add");
    sheet_ = object(book_, "Worksheets", {Any(sal_Int16(1))});
  }
  void TearDown() override {
    try {
      call(book_, "Close", {Any(false)});
    } catch (const CalcError &) {
      // Closed by the test, or its office was killed.
    }
  }

  test::TempDir dir_;
  Object app_{Kind::Application, nullptr, nullptr};
  Object book_;
  Object sheet_;
};

TEST_F(CalcModelTest, WalksFromTheApplicationToCellsAndBack) {
  ASSERT_EQ(book_.kind, Kind::Workbook);
  ASSERT_EQ(sheet_.kind, Kind::Worksheet);
  Object sheets = object(book_, "Worksheets");
  EXPECT_EQ(sheets.kind, Kind::Worksheets);
  sal_Int32 count = 0;
  ASSERT_TRUE(call(sheets, "Count") >>= count);
  EXPECT_GE(count, 1);
  EXPECT_EQ(object(sheets, "Item", {str(text(call(sheet_, "Name")).c_str())}).kind,
            Kind::Worksheet);
  EXPECT_EQ(object(sheet_, "Application").kind, Kind::Application);

  Object b2 = object(sheet_, "Range", {str("B2")});
  put(b2, "Value", Any(42.5));
  EXPECT_EQ(number(call(b2, "Value")), 42.5);
  put(object(b2, "Offset", {Any(sal_Int16(1)), Any(sal_Int16(2))}), "Value", str("text"));
  EXPECT_EQ(text(call(object(sheet_, "Range", {str("D3")}), "Value")), "text");
  EXPECT_EQ(number(call(object(sheet_, "Cells", {Any(sal_Int16(2)), Any(sal_Int16(2))}), "Value")),
            42.5);

  Object block = object(app_, "Range", {str("A1"), str("C4")});
  sal_Int32 cells = 0;
  EXPECT_TRUE(call(block, "Count") >>= cells);
  EXPECT_EQ(cells, 12);
  EXPECT_EQ(text(call(object(block, "Columns", {Any(sal_Int16(3))}), "Address")), "$C$1:$C$4");
  EXPECT_EQ(text(call(object(block, "Rows"), "Address")), "$A$1:$C$4");
  EXPECT_EQ(text(call(object(sheet_, "Rows", {Any(sal_Int16(2))}), "Address")), "$2:$2");
  for (const char *size : {"ColumnWidth", "RowHeight", "Width", "Height"}) {
    SCOPED_TRACE(size);
    EXPECT_GT(number(call(b2, size)), 0);
  }
  call(object(sheet_, "Range", {str("A1")}), "Delete", {Any(sal_Int16(-4162))}); // shift up
  EXPECT_EQ(number(call(b2, "Value")), 42.5) << "deleting A1 upwards leaves column B";
}

TEST_F(CalcModelTest, SavesAndReopensAWorkbookWithItsNames) {
  put(object(sheet_, "Range", {str("A1")}), "Value", Any(7.0));
  Object c3 = object(sheet_, "Range", {str("C3")});
  put(c3, "Name", str("Total"));
  Object names = object(book_, "Names");
  std::string corner = "='" + text(call(sheet_, "Name")) + "'!$A$1";
  call(names, "Add", {str("Corner"), str(corner.c_str())});

  std::string path = dir_.file("book.xlsx");
  call(book_, "SaveAs", {str(path.c_str())});
  call(book_, "Close", {Any(false)});
  ASSERT_TRUE(std::filesystem::exists(path));

  book_ = object(object(app_, "Workbooks"), "Open", {str(path.c_str())});
  sheet_ = object(book_, "Worksheets", {Any(sal_Int16(1))});
  EXPECT_EQ(text(call(book_, "Name")), "book.xlsx");
  EXPECT_EQ(number(call(object(sheet_, "Range", {str("A1")}), "Value")), 7.0);
  names = object(book_, "Names");
  sal_Int32 count = 0;
  EXPECT_TRUE(call(names, "Count") >>= count);
  EXPECT_EQ(count, 2);
  Object total = object(object(sheet_, "Range", {str("C3")}), "Name");
  EXPECT_EQ(text(call(total, "Name")), "Total");
  EXPECT_EQ(text(call(object(names, "Item", {str("Corner")}), "Name")), "Corner");
  EXPECT_EQ(faultOf([&] { object(object(sheet_, "Range", {str("B2")}), "Name"); }), Fault::Failed);

  put(object(sheet_, "Range", {str("A1")}), "Value", Any(8.0));
  call(book_, "Save");
  call(book_, "Close", {Any(false)});
  book_ = object(object(app_, "Workbooks"), "Open", {str(path.c_str())});
  sheet_ = object(book_, "Worksheets", {Any(sal_Int16(1))});
  EXPECT_EQ(number(call(object(sheet_, "Range", {str("A1")}), "Value")), 8.0);
}

TEST_F(CalcModelTest, ViewMembersAnswerUnderADisplay) {
  ASSERT_TRUE(Office::instance().hasView());
  put(app_, "Visible", Any(true));
  call(sheet_, "Activate");
  // Goto reads its text as R1C1: "C5" is the fifth column, whose first cell becomes active.
  call(app_, "Goto", {str("R5C3")});
  EXPECT_EQ(text(call(object(app_, "ActiveCell"), "Address")), "$C$5");
  call(app_, "Goto", {str("C5")});
  EXPECT_EQ(text(call(object(app_, "ActiveCell"), "Address")), "$E$1");
  call(object(sheet_, "Range", {str("B7")}), "Activate");
  EXPECT_EQ(text(call(object(app_, "ActiveCell"), "Address")), "$B$7");

  Object window = object(app_, "ActiveWindow");
  ASSERT_EQ(window.kind, Kind::Window);
  EXPECT_EQ(object(window, "VisibleRange").kind, Kind::Range);
  EXPECT_GT(number(call(window, "UsableHeight")), 0);
  Object panes = object(window, "Panes");
  EXPECT_EQ(panes.kind, Kind::Panes);
  Object pane = object(panes, "Item", {Any(sal_Int16(1))});
  EXPECT_EQ(object(pane, "VisibleRange").kind, Kind::Range);
  EXPECT_EQ(object(window, "ActivePane").kind, Kind::Pane);
  EXPECT_EQ(faultOf([&] { object(panes, "Item", {Any(sal_Int16(2))}); }), Fault::NotFound);
}

TEST_F(CalcModelTest, MembersAreFoundByNameOrDispidAndCheckTheirArguments) {
  const Member *value = findMember(Kind::Range, std::string_view("vALUE"));
  ASSERT_NE(value, nullptr);
  EXPECT_EQ(findMember(Kind::Range, 6), value);
  EXPECT_EQ(findMember(Kind::Range, std::string_view("Valu")), nullptr);
  EXPECT_EQ(findMember(Kind::Names, 0x12345), nullptr);

  Object b2 = object(sheet_, "Range", {str("B2")});
  EXPECT_EQ(faultOf([&] { call(b2, "Offset", {Any(), Any(), Any()}); }), Fault::BadArgument);
  EXPECT_EQ(faultOf([&] { put(b2, "Count", Any(1.0)); }), Fault::NoMember);
  EXPECT_EQ(faultOf([&] { call(app_, "Range"); }), Fault::BadArgument);
}

TEST_F(CalcModelTest, FaultsAreReportedByKind) {
  struct Row {
    const char *what;
    std::function<void()> call;
    Fault fault;
  } rows[] = {
      {"bad reference", [&] { object(sheet_, "Range", {str("NotACell!!")}); }, Fault::Failed},
      {"missing sheet", [&] { object(book_, "Worksheets", {str("Nope")}); }, Fault::NotFound},
      {"missing name", [&] { object(object(book_, "Names"), "Item", {str("Nope")}); },
       Fault::NotFound},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(faultOf(row.call), row.fault);
  }

  Object a1 = object(sheet_, "Range", {str("A1")});
  call(book_, "Close", {Any(false)});
  EXPECT_EQ(faultOf([&] { call(a1, "Value"); }), Fault::Disconnected);
}

TEST_F(CalcModelTest, AKilledOfficeIsReportedAndReplaced) {
  Object a1 = object(sheet_, "Range", {str("A1")});
  pid_t first = Office::instance().pid();
  ASSERT_GT(first, 0);
  ::kill(first, SIGKILL);
  EXPECT_EQ(faultOf([&] { call(a1, "Value"); }), Fault::OfficeLost);
  EXPECT_EQ(::kill(first, 0), -1) << "the dead office was reaped";

  book_ = object(object(app_, "Workbooks"), "Add");
  EXPECT_NE(Office::instance().pid(), first);
  put(object(app_, "Range", {str("A1")}), "Value", Any(1.0));
}

// Without a display and without Xvfb the office runs headless: workbooks still open (hidden),
// and members that need a window refuse instead of ending soffice. Run in a child process
// whose PATH has no Xvfb.
TEST_F(CalcModelTest, HeadlessOfficeRefusesViewMembers) {
  const char *self = "VLX_CALC_HEADLESS_CHILD";
  if (!std::getenv(self)) {
    auto child = test::runCommand(
        {"/usr/bin/env", "-u", "DISPLAY", "PATH=/nonexistent", std::string(self) + "=1",
         std::filesystem::read_symlink("/proc/self/exe").string(),
         "--gtest_filter=CalcModelTest.HeadlessOfficeRefusesViewMembers"});
    EXPECT_EQ(child.status, 0) << child.output;
    return;
  }
  ASSERT_FALSE(Office::instance().hasView());
  put(object(sheet_, "Range", {str("A1")}), "Value", Any(3.0));
  EXPECT_EQ(number(call(object(sheet_, "Range", {str("A1")}), "Value")), 3.0);
  struct Row {
    const char *what;
    std::function<void()> call;
  } rows[] = {
      {"ActiveCell", [&] { call(app_, "ActiveCell"); }},
      {"Goto", [&] { call(app_, "Goto", {str("R1C1")}); }},
      {"Range", [&] { call(app_, "Range", {str("A1")}); }},
      {"Activate", [&] { call(object(sheet_, "Range", {str("A1")}), "Activate"); }},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(faultOf(row.call), Fault::NoView);
  }
}

// An office the host already runs, named by VELMORA_CALC_CONNECT: used, and left running.
TEST_F(CalcModelTest, ReachesARunningOfficeAndLeavesItRunning) {
  Office::instance().stop();
  test::TempDir profile;
  std::string pipe = "velmora-calc-test-" + std::to_string(::getpid());
  std::string profileArg = "-env:UserInstallation=file://" + profile.path();
  std::string acceptArg = "--accept=pipe,name=" + pipe + ";urp;";
  auto spawn = [&] {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(VLX_SOFFICE, VLX_SOFFICE, "--headless", "--norestore", "--nologo", "--nodefault",
              profileArg.c_str(), acceptArg.c_str(), static_cast<char *>(nullptr));
      ::_exit(127);
    }
    return pid;
  };
  pid_t running = spawn();
  ASSERT_GT(running, 0);
  {
    test::ScopedEnv connect("VELMORA_CALC_CONNECT", ("pipe,name=" + pipe).c_str());
    std::string name;
    for (int tries = 0; tries < 600 && name.empty(); ++tries) {
      try {
        name = text(call(app_, "Name"));
      } catch (const CalcError &e) {
        ASSERT_EQ(e.fault(), Fault::NoOffice) << e.what();
        // A new profile makes soffice ask its launcher for a restart.
        if (::waitpid(running, nullptr, WNOHANG) == running)
          running = spawn();
        ::usleep(100000);
      }
    }
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(Office::instance().pid(), -1) << "not started here";
    Office::instance().stop();
    EXPECT_EQ(::kill(running, 0), 0) << "left running";
  }
  ::kill(running, SIGKILL);
  ::waitpid(running, nullptr, 0);
  ::unlink(("/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe).c_str());
}

TEST_F(CalcModelTest, QuitLeavesNoOfficeBehind) {
  pid_t pid = Office::instance().pid();
  ASSERT_GT(pid, 0);
  call(app_, "Quit");
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(Office::instance().pid(), -1);
}

} // namespace
} // namespace vlx::calc
