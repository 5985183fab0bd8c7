// Opening files the office would ask about, two writers of one workbook, and what a killed
// host leaves behind, against a real soffice.
#include "load.h"
#include "model.h"
#include "support/expect_text.h"
#include "support/temp_env.h"
#include "xlsx_writer.h"
#include "zip_tail.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace vlx::calc {
namespace {

using css::uno::Any;
namespace fs = std::filesystem;

Any str(const std::string &s) { return Any(OUString::fromUtf8(s.c_str())); }

class CalcLoadTest : public ::testing::Test {
protected:
  static void TearDownTestSuite() { Office::instance().stop(); }

  static Any call(const Object &self, const char *name, const Args &args = {}) {
    return invoke(*findMember(self.kind, std::string_view(name)), self, args);
  }
  static Object object(const Object &self, const char *name, const Args &args = {}) {
    const Member *member = findMember(self.kind, std::string_view(name));
    return answerObject(*member, self, invoke(*member, self, args));
  }
  static void put(const Object &range, const Any &value) {
    invoke(*findMember(Kind::Range, std::string_view("Value")), range, {}, &value);
  }
  static Object cell(const Object &book, const char *address) {
    return object(object(book, "Worksheets", {Any(sal_Int16(1))}), "Range", {str(address)});
  }
  static std::string textOf(const Object &book, const char *address) {
    Any value = call(cell(book, address), "Value");
    double number = 0;
    OUString text;
    if (value >>= number)
      return std::to_string(static_cast<long>(number));
    return (value >>= text) ? toString(text) : "?";
  }
  static bool readOnly(const Object &book) {
    bool answer = false;
    EXPECT_TRUE(call(book, "ReadOnly") >>= answer);
    return answer;
  }
  Object open(const std::string &path, Args more = {}) {
    more.insert(more.begin(), str(path));
    return object(object(app_, "Workbooks"), "Open", more);
  }
  static void close(const Object &book) { call(book, "Close", {Any(false)}); }
  // The failure of a call, as the host reads it.
  static std::string failure(const std::function<void()> &f) {
    try {
      f();
    } catch (const CalcError &e) {
      EXPECT_EQ(e.fault(), Fault::Failed) << e.what();
      return e.what();
    }
    return "no failure";
  }
  // A workbook with 42 in A1, written by the office.
  std::string workbook(const std::string &name) {
    Object book = object(object(app_, "Workbooks"), "Add");
    put(cell(book, "A1"), Any(42.0));
    std::string path = dir_.file(name);
    call(book, "SaveAs", {str(path)});
    close(book);
    return path;
  }
  std::set<std::string> listing() {
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(dir_.path()))
      names.insert(entry.path().filename().string());
    return names;
  }

  vlx::test::TempDir dir_;
  Object app_{Kind::Application, nullptr, nullptr};
};

void write(const std::string &path, const std::string &bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string contents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(CalcLoadTest, EveryFileOpensOrFailsWithItsCauseAndNoQuestion) {
  std::string good = workbook("good.xlsx");
  // A name is a path, whatever it holds; relative names are the working directory's.
  fs::path cwd = fs::current_path();
  fs::current_path(dir_.path());
  for (const char *name : {"file:x.xlsx", "private:x.xlsx", "a #1%41?.xlsx", " spaced .xlsx"}) {
    SCOPED_TRACE(name);
    fs::copy_file(good, dir_.file(name));
    Object book = open(name);
    EXPECT_EQ(textOf(book, "A1"), "42");
    EXPECT_EQ(toString(call(book, "Name").get<OUString>()), name);
    close(book);
  }
  fs::current_path(cwd);

  // Text files open with the separators asked for, never through the import dialog.
  write(dir_.file("comma.csv"), "1,2\n3,4\n");
  write(dir_.file("semicolon.csv"), "1;5\n");
  write(dir_.file("tab.txt"), "1\t6\n");
  struct Text {
    const char *name;
    Args args;
    const char *b1;
  } texts[] = {
      {"comma.csv", {}, "2"},
      {"semicolon.csv", {Any(), Any(), Any(4.0)}, "5"},
      {"tab.txt", {}, "6"},
      {"semicolon.csv", {Any(), Any(), Any(6.0), Any(), Any(), Any(), Any(), str(";")}, "5"},
  };
  for (const auto &text : texts) {
    SCOPED_TRACE(text.name);
    Object book = open(dir_.file(text.name), text.args);
    EXPECT_EQ(textOf(book, "B1"), text.b1);
    close(book);
  }

  // A damaged workbook: the end of its zip directory cut off.
  std::string bytes = contents(workbook("good.ods"));
  write(dir_.file("cut.ods"), bytes.substr(0, bytes.size() - 30));
  write(dir_.file("text.xlsx"), "hello, world\n");
  std::string noise(3000, '\0');
  for (size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<char>((i * 7919 + 13) % 251);
  write(dir_.file("noise.xlsx"), noise);
  write(dir_.file("empty.xlsx"), "");
  struct Bad {
    const char *name;
    const char *cause;
  } bad[] = {
      {"cut.ods", "is damaged; open it with CorruptLoad 1"},
      {"text.xlsx", "is not a workbook"},
      {"noise.xlsx", "'"},
      {"empty.xlsx", "is empty: not a workbook"},
      {"missing.xlsx", "could not be found"},
  };
  for (const auto &file : bad) {
    SCOPED_TRACE(file.name);
    std::string why = failure([&] { open(dir_.file(file.name)); });
    EXPECT_HAS(why, file.cause);
    EXPECT_HAS(why, file.name);
  }
  Object repaired =
      open(dir_.file("cut.ods"), {Any(), Any(), Any(), Any(), Any(), Any(), Any(), Any(), Any(),
                                  Any(), Any(), Any(), Any(), Any(1.0)});
  EXPECT_EQ(textOf(repaired, "A1"), "42") << "repaired on request";
  close(repaired);

  // A workbook with a password: refused without it or with a wrong one, opened with it.
  Object book = open(good);
  css::uno::Sequence<css::beans::PropertyValue> props(2);
  props.getArray()[0].Name = "FilterName";
  props.getArray()[0].Value <<= OUString("calc8");
  props.getArray()[1].Name = "Password";
  props.getArray()[1].Value <<= OUString("secret");
  std::string locked = dir_.file("locked.ods");
  css::uno::Reference<css::frame::XStorable>(book.document, css::uno::UNO_QUERY_THROW)
      ->storeToURL(fileUrl(OUString::fromUtf8(locked.c_str())), props);
  close(book);
  std::string why = failure([&] { open(locked); });
  EXPECT_HAS(why, "is protected by a password: give it as Password");
  why = failure([&] { open(locked, {Any(), Any(), Any(), str("wrong")}); });
  EXPECT_HAS(why, "the password given is wrong");
  Object opened = open(locked, {Any(), Any(), Any(), str("secret")});
  EXPECT_EQ(textOf(opened, "A1"), "42");
  close(opened);
}

// Bytes after the end of a whole zip, which the office calls damage: the workbook opens as its
// zip holds it, with a warning, and saves.
TEST_F(CalcLoadTest, AZipWithBytesAfterItsEndOpensWithAWarning) {
  std::string path = workbook("tail.xlsx");
  std::string bytes = contents(path);
  EXPECT_EQ(bytesAfterZip(path), 0u);
  std::string tail(911, '\0');
  for (size_t i = 0; i < tail.size(); ++i)
    tail[i] = static_cast<char>((i * 7919 + 13) % 251);
  write(path, bytes + tail);
  EXPECT_EQ(bytesAfterZip(path), 911u);
  testing::internal::CaptureStderr();
  Object book = open(path);
  std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_HAS(warning, "has 911 bytes after the end of its zip");
  EXPECT_EQ(textOf(book, "A1"), "42");
  EXPECT_EQ(
      css::uno::Reference<css::frame::XModel>(book.document, css::uno::UNO_QUERY_THROW)->getURL(),
      fileUrl(OUString::fromUtf8(path.c_str())))
      << "the workbook keeps its file's name";
  put(cell(book, "A2"), Any(7.0));
  call(book, "Save");
  close(book);
  EXPECT_EQ(bytesAfterZip(path), 0u) << "saved as a whole zip";
  Object saved = open(path);
  EXPECT_EQ(textOf(saved, "A2"), "7");
  close(saved);
}

// A zip's own comment is part of it; what is no zip has nothing after one.
TEST(ZipTail, CountsOnlyWhatFollowsTheEndRecordAndItsComment) {
  vlx::test::TempDir dir;
  std::string record("PK\5\6\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
  struct Case {
    std::string bytes;
    uint64_t after;
  } cases[] = {
      {record + std::string("\0\0", 2), 0},
      {record + std::string("\3\0abc", 5), 0},
      {record + std::string("\3\0abcdefg", 9), 4},
      {record + std::string("\0\0", 2) + "PK\5\6 noise", 10},
      {"not a zip at all, long enough to hold a record", 0},
      {"", 0},
  };
  for (const auto &c : cases) {
    std::string path = dir.file("case.zip");
    write(path, c.bytes);
    EXPECT_EQ(bytesAfterZip(path), c.after) << c.bytes.size();
  }
  EXPECT_EQ(bytesAfterZip(dir.file("missing.zip")), 0u);
}

TEST_F(CalcLoadTest, ASecondWriterGetsTheWorkbookReadOnlyAndCannotSave) {
  std::string path = workbook("book.xlsx");
  // A save killed between its two renames left its file; the next writer removes it.
  write(dir_.file(".~book.xlsx.saving"), "stale");
  Object first = open(path);
  EXPECT_FALSE(readOnly(first));
  EXPECT_EQ(listing(), std::set<std::string>{"book.xlsx"});
  Object reader = open(path, {Any(), Any(true)});
  EXPECT_TRUE(readOnly(reader)) << "asked for";
  Object second = open(path);
  EXPECT_TRUE(readOnly(second)) << "another opener writes it";
  std::string why = failure([&] { call(second, "Save"); });
  EXPECT_HAS(why, "is read-only");
  why = failure([&] { call(second, "SaveAs", {str(path)}); });
  EXPECT_HAS(why, "is read-only");

  struct stat before, after;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  put(cell(first, "A1"), Any(7.0));
  call(first, "Save");
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "put in place by a rename";
  EXPECT_EQ(after.st_mode, before.st_mode);
  EXPECT_EQ(listing(), std::set<std::string>{"book.xlsx"}) << "nothing beside it";
  Object third = open(path);
  EXPECT_TRUE(readOnly(third)) << "the saved file stays locked";
  for (const Object &book : {first, reader, second, third})
    close(book);

  Object again = open(path);
  EXPECT_FALSE(readOnly(again)) << "closing gave the lock up";
  EXPECT_EQ(textOf(again, "A1"), "7");
  close(again);

  // A file nobody may write opens read-only, also for root.
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  std::string saved = contents(path);
  Object protectedBook = open(path);
  EXPECT_TRUE(readOnly(protectedBook));
  put(cell(protectedBook, "A1"), Any(9.0));
  EXPECT_HAS(failure([&] { call(protectedBook, "Save"); }), "is read-only");
  close(protectedBook);
  EXPECT_EQ(contents(path), saved);
  ::chmod(path.c_str(), 0644);
}

// A sheet the office passes over in silence (its part missing, or cut short) opens read-only and
// says what is damaged, as a repaired file does; a whole workbook says nothing.
TEST_F(CalcLoadTest, AWorkbookWithADamagedSheetOpensReadOnlyAndSaysSo) {
  const struct {
    long damage;
    const char *said;
  } cases[] = {{0, ""},
               {-1, "its sheet 'Data' (xl/worksheets/sheet2.xml) is missing"},
               {160, "its sheet 'Data' (xl/worksheets/sheet2.xml) is cut short"}};
  for (const auto &c : cases) {
    const std::string path = dir_.file("damaged.xlsx");
    std::vector<test::XlsxCell> cells;
    for (int row = 1; row <= 20; ++row)
      cells.push_back({"A" + std::to_string(row), "", std::to_string(row), "", 0});
    test::writeXlsx(
        path, {false,
               {},
               {{"First", {{"A1", "", "1", "", 0}}, false, 0}, {"Data", cells, false, c.damage}}});
    Object book = open(path);
    OUString said;
    EXPECT_TRUE(call(book, "Damage") >>= said);
    EXPECT_EQ(toString(said), c.said);
    EXPECT_EQ(readOnly(book), *c.said != '\0') << c.said;
    if (*c.said) {
      EXPECT_HAS(failure([&] { call(book, "Save"); }), "it is damaged (" + std::string(c.said));
    }
    close(book);
  }
}

TEST_F(CalcLoadTest, ASaveThroughALinkReplacesTheWorkbookAndKeepsTheLink) {
  std::string path = workbook("book.xlsx");
  fs::create_directories(dir_.file("links"));
  const std::string link = dir_.file("links/link.xlsx");
  fs::create_symlink("../book.xlsx", link);
  Object book = open(link);
  EXPECT_FALSE(readOnly(book));
  put(cell(book, "A1"), Any(7.0));
  call(book, "Save");
  close(book);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.file("links")), {}), 1);
  Object again = open(path);
  EXPECT_EQ(textOf(again, "A1"), "7");
  close(again);
}

// Folders and pipe sockets of hosts that were killed go at the next start; those of living
// hosts stay. The office's own temporary folders live in its scratch directory.
TEST_F(CalcLoadTest, AStartRemovesWhatKilledHostsLeft) {
  Office::instance().stop();
  vlx::test::ScopedEnv runtime("XDG_RUNTIME_DIR", dir_.path().c_str());
  vlx::test::ScopedEnv tmp("TMPDIR", dir_.path().c_str());
  auto scratch = [&](const char *name, bool withOwner) {
    fs::create_directory(dir_.file(name));
    write(dir_.file(name) + "/soffice.log", "log");
    return withOwner
               ? ::open((dir_.file(name) + "/owner").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)
               : -1;
  };
  ::close(scratch("velmora-calc-dead", true));
  int live = scratch("velmora-calc-live", true);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  ASSERT_EQ(::fcntl(live, F_OFD_SETLK, &lock), 0);
  scratch("velmora-calc-unknown", false);
  std::string socketPath = "/tmp/OSL_PIPE_" + std::to_string(::getuid()) + "_velmora-calc-test-" +
                           std::to_string(::getpid());
  int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
  ::close(sock); // bound, never listened on: what a killed office leaves

  std::string path = workbook("book.xlsx");
  Object book = open(path);
  call(book, "Save");
  close(book);
  std::string own = Office::instance().scratch();
  EXPECT_EQ(fs::path(own).parent_path(), fs::path(dir_.path()));
  std::set<std::string> names = listing();
  names.erase("dconf"); // the desktop settings' runtime folder, in XDG_RUNTIME_DIR
  Office::instance().stop();
  EXPECT_FALSE(fs::exists(own));
  EXPECT_EQ(names, (std::set<std::string>{"book.xlsx", fs::path(own).filename().string(),
                                          "velmora-calc-live", "velmora-calc-unknown"}))
      << "no lu*.tmp of the office, no dead host's folder";
  struct stat st;
  EXPECT_NE(::lstat(socketPath.c_str(), &st), 0) << "the dead pipe's socket was removed";
  ::unlink(socketPath.c_str());
  ::close(live);
}

} // namespace
} // namespace vlx::calc
