// The spreadsheet objects over a real soffice: walking, reading and writing, saving, the
// emulated members, and the faults a host must see.
#include "model.h"
#include "support/temp_env.h"
#include "workbook_documents.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
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

// The members a host needs around the wrapped ones (the wrappers test drives those): sheets by
// count and name, names added and read back, a workbook saved, closed and reopened.
TEST_F(CalcModelTest, SheetsNamesAndSavingAWorkbook) {
  Object sheets = object(book_, "Worksheets");
  sal_Int32 count = 0;
  ASSERT_TRUE(call(sheets, "Count") >>= count);
  EXPECT_GE(count, 1);
  EXPECT_EQ(object(sheets, "Item", {str(text(call(sheet_, "Name")).c_str())}).kind,
            Kind::Worksheet);
  put(object(sheet_, "Range", {str("A1")}), "Value", Any(7.0));
  std::string corner = "='" + text(call(sheet_, "Name")) + "'!$A$1";
  call(object(book_, "Names"), "Add", {str("Corner"), str(corner.c_str())});
  // The emulated Range.Name of a range no name refers to.
  EXPECT_EQ(faultOf([&] { object(object(sheet_, "Range", {str("B2")}), "Name"); }), Fault::Failed);

  std::string path = dir_.file("book.xlsx");
  call(book_, "SaveAs", {str(path.c_str())});
  put(object(sheet_, "Range", {str("A1")}), "Value", Any(8.0));
  call(book_, "Save");
  call(book_, "Close", {Any(false)});
  book_ = object(object(app_, "Workbooks"), "Open", {str(path.c_str())});
  sheet_ = object(book_, "Worksheets", {Any(sal_Int16(1))});
  EXPECT_EQ(text(call(book_, "Name")), "book.xlsx");
  EXPECT_EQ(number(call(object(sheet_, "Range", {str("A1")}), "Value")), 8.0);
  EXPECT_EQ(text(call(object(object(book_, "Names"), "Item", {str("Corner")}), "Name")), "Corner");
}

// A closed workbook is gone when Close returns (the office's own Close only asks its event loop
// to close it, and later calls met it half closed); SaveChanges saves as Save or SaveAs would. A
// Workbooks object held by the host counts what is open now.
TEST_F(CalcModelTest, CloseIsDoneWhenItReturnsAndSavesWhenAsked) {
  Object books = object(app_, "Workbooks");
  auto count = [&] {
    sal_Int32 n = -1;
    EXPECT_TRUE(call(books, "Count") >>= n);
    return n;
  };
  auto valueIn = [&](const std::string &path) {
    Object book = object(books, "Open", {str(path.c_str())});
    double value = number(call(
        object(object(book, "Worksheets", {Any(sal_Int16(1))}), "Range", {str("A1")}), "Value"));
    call(book, "Close");
    return value;
  };
  std::string named = dir_.file("named.ods"), own = dir_.file("own.xlsx");
  put(object(sheet_, "Range", {str("A1")}), "Value", Any(1.0));
  call(book_, "SaveAs", {str(own.c_str())});
  put(object(sheet_, "Range", {str("A1")}), "Value", Any(2.0));
  sal_Int32 before = count();
  auto document = book_.document;
  call(book_, "Close", {Any(true), str(named.c_str())});
  EXPECT_TRUE(isClosed(document));
  EXPECT_EQ(count(), before - 1);
  EXPECT_EQ(faultOf([&] { call(sheet_, "Name"); }), Fault::Disconnected);
  EXPECT_EQ(valueIn(named), 2.0);
  EXPECT_EQ(valueIn(own), 1.0) << "SaveAs went to the new name only";

  for (double value : {3.0, 4.0}) {
    Object book = object(books, "Open", {str(own.c_str())});
    put(object(object(book, "Worksheets", {Any(sal_Int16(1))}), "Range", {str("A1")}), "Value",
        Any(value));
    call(book, "Close", {Any(value == 3.0 ? Any(sal_Int32(1)) : Any(false))});
  }
  EXPECT_EQ(valueIn(own), 3.0) << "a true number saved, false dropped the change";
  book_ = object(books, "Add");
  EXPECT_EQ(faultOf([&] { call(book_, "Close", {str("yes")}); }), Fault::BadArgument);
  object(books, "Add");
  call(books, "Close");
  EXPECT_EQ(count(), 0);
  book_ = object(books, "Add");
  EXPECT_EQ(count(), 1);
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
// An office that goes away while the bridge writes to it fails the call; the host lives on (the
// write would raise SIGPIPE, whose default ends the process).
TEST_F(CalcModelTest, AnOfficeThatHangsUpFailsTheCallAndTheHostLives) {
  Office::instance().stop();
  std::string pipe = "velmora-calc-test-hangup-" + std::to_string(::getpid());
  std::string path = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_" + pipe;
  int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  ::unlink(path.c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  std::thread hangUp([listener] {
    for (int fd; (fd = ::accept(listener, nullptr, nullptr)) >= 0;)
      ::close(fd);
  });
  {
    test::ScopedEnv connect("VELMORA_CALC_CONNECT", ("pipe,name=" + pipe).c_str());
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(faultOf([&] { call(app_, "Name"); }), Fault::NoOffice);
  }
  ::shutdown(listener, SHUT_RDWR);
  hangUp.join();
  ::close(listener);
  ::unlink(path.c_str());
}

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

} // namespace
} // namespace vlx::calc
