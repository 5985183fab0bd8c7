// A host's whole path on Linux: the server registered the Windows way, created by ProgID, and
// every exported wrapper member called once against a real soffice; then the faults a host
// meets and a clean end.
#include "support/expect_text.h"
#include "support/temp_env.h"

#include <velmora/automation.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using vlx::test::TempEnvTest;

const DISPID kAdd = 0xB5, kOpen = 0x2AA, kClose = 0x115, kSaveAs = 0x11C, kWorksheets = 0x1EE,
             kQuit = 0x12E, kAddress = 0xEC;
const WORD kCall = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
const BYTE kText[] = {0x0E, 0};
const BYTE kBool[] = {VT_BOOL, 0};
const BYTE kInt[] = {VT_I4, 0};

// The soffice processes this process started (the server's children).
std::vector<pid_t> officeChildren() {
  std::vector<pid_t> found;
  DIR *proc = ::opendir("/proc");
  while (dirent *entry = proc ? ::readdir(proc) : nullptr) {
    std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
    std::string pid, comm, state;
    pid_t parent = 0;
    if (stat >> pid >> comm >> state >> parent && parent == ::getpid() && comm == "(soffice.bin)" &&
        state != "Z")
      found.push_back(std::stoi(pid));
  }
  if (proc)
    ::closedir(proc);
  return found;
}

std::string addressOf(COleDispatchDriver range) {
  CString text;
  range.InvokeHelper(kAddress, kCall, VT_BSTR, &text, nullptr);
  return static_cast<const char *>(text);
}

double number(VARIANT value) {
  VARIANT converted;
  VariantInit(&converted);
  EXPECT_EQ(VariantChangeType(&converted, &value, 0, VT_R8), S_OK) << V_VT(&value);
  VariantClear(&value);
  return V_R8(&converted);
}

// The dispatch exception a call raises, or none.
std::optional<SCODE> faultOf(const std::function<void()> &call,
                             std::string *description = nullptr) {
  try {
    call();
  } catch (COleDispatchException *e) {
    SCODE code = e->m_scError;
    EXPECT_EQ(std::string(static_cast<const char *>(e->m_strSource)), "LibreOffice Calc");
    if (description)
      *description = static_cast<const char *>(e->m_strDescription);
    e->Delete();
    return code;
  } catch (COleException *e) {
    ADD_FAILURE() << "a plain OLE exception " << std::hex << e->m_sc;
    e->Delete();
  }
  return std::nullopt;
}

class CalcWrappersTest : public TempEnvTest {
protected:
  void SetUp() override {
    void *server = ::dlopen(VLX_CALC_SERVER, RTLD_NOW);
    ASSERT_NE(server, nullptr) << ::dlerror();
    auto registerServer = reinterpret_cast<HRESULT (*)()>(::dlsym(server, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_EQ(CoInitialize(nullptr), S_OK);
    ASSERT_TRUE(app_.CreateDispatch("Excel.Application"));
  }
  void TearDown() override {
    if (app_.m_lpDispatch) {
      try {
        app_.InvokeHelper(kQuit, kCall, VT_EMPTY, nullptr, nullptr);
      } catch (CException *e) {
        e->Delete();
      }
    }
    app_.ReleaseDispatch();
    EXPECT_TRUE(officeChildren().empty()) << "no soffice left behind";
    CoUninitialize();
  }

  LPDISPATCH addWorkbook() {
    Workbooks books(app_.Workbooks(0));
    LPDISPATCH book = nullptr;
    books.InvokeHelper(kAdd, kCall, VT_DISPATCH, &book, nullptr);
    return book;
  }
  static LPDISPATCH firstSheet(COleDispatchDriver &book) {
    LPDISPATCH sheet = nullptr;
    book.InvokeHelper(kWorksheets, kCall, VT_DISPATCH, &sheet, kInt, 1);
    return sheet;
  }

  // A framework exception fails the test with its text, not as an unknown exception.
  template <class Body> static void reporting(Body body) {
    try {
      body();
    } catch (CException *e) {
      char text[512] = "";
      e->GetErrorMessage(text, sizeof text);
      ADD_FAILURE() << "uncaught: " << text;
      e->Delete();
    }
  }

  Application app_;
};

TEST_F(CalcWrappersTest, EveryExportedMemberAgainstARealSpreadsheet) {
  reporting([&] {
    std::string path = dir_.file("book.xlsx");
    {
      COleDispatchDriver book(addWorkbook());
      Range(app_.Range(const_cast<char *>("A1"))).SetValue(const_cast<char *>("42"));
      book.InvokeHelper(kSaveAs, kCall, VT_EMPTY, nullptr, kText, path.c_str());
      book.InvokeHelper(kClose, kCall, VT_EMPTY, nullptr, kBool, FALSE);
    }
    ASSERT_TRUE(std::filesystem::exists(path));
    Workbooks books(app_.Workbooks(3));
    LPDISPATCH opened = nullptr;
    books.InvokeHelper(kOpen, kCall, VT_DISPATCH, &opened, kText, path.c_str());
    COleDispatchDriver book(opened);
    COleDispatchDriver active(app_.GetActiveWorkbook());
    ASSERT_NE(active.m_lpDispatch, nullptr);

    app_.SetVisible(1);
    Worksheet sheet(firstSheet(book));
    EXPECT_EQ(sheet.Activate(), 1);
    EXPECT_EQ(std::string(sheet.GetName()), "Sheet1");
    EXPECT_EQ(Worksheet(sheet.GetNext()).m_lpDispatch, nullptr) << "one sheet: Nothing";
    Application viaSheet(sheet.Application());
    EXPECT_NE(viaSheet.m_lpDispatch, nullptr);
    Range row2(sheet.Rows(2));
    EXPECT_EQ(addressOf(row2), "$2:$2");

    Range a1(app_.Range(const_cast<char *>("A1")));
    EXPECT_EQ(number(a1.GetValue()), 42.0) << "a number typed as text is a number";
    Range block(app_.Range(const_cast<char *>("A1"), const_cast<char *>("C4")));
    EXPECT_EQ(number(block.GetCount()), 12.0);
    for (auto size :
         {&Range::GetColumnWidth, &Range::GetRowHeight, &Range::GetWidth, &Range::GetHeight})
      EXPECT_GT(number((a1.*size)()), 0.0);
    EXPECT_EQ(addressOf(Range(block.Columns(2))), "$B$1:$B$4");
    EXPECT_EQ(addressOf(Range(block.Columns())), "$A$1:$C$4");
    VARIANT index;
    VariantInit(&index);
    V_VT(&index) = VT_I4;
    V_I4(&index) = 3;
    EXPECT_EQ(addressOf(Range(block.Rows(index))), "$A$3:$C$3");
    EXPECT_EQ(addressOf(Range(block.Rows())), "$A$1:$C$4");
    VARIANT column = index;
    V_I4(&column) = 2;
    Range b3(block.Cells(index, column));
    EXPECT_EQ(addressOf(b3), "$B$3");
    Range c4(a1.Offset(3, 2));
    EXPECT_EQ(addressOf(c4), "$C$4");
    c4.SetValue(const_cast<char *>("text"));
    VARIANT text = c4.GetValue();
    EXPECT_EQ(V_VT(&text), VT_BSTR);
    VariantClear(&text);

    b3.SetName(const_cast<char *>("Total"));
    EXPECT_EQ(std::string(Name(b3.GetName()).GetName()), "Total");
    Names names(app_.Names());
    EXPECT_EQ(names.GetCount(), 1);
    VARIANT first = index;
    V_I4(&first) = 1;
    EXPECT_EQ(std::string(Name(names.Item(first)).GetName()), "Total");

    EXPECT_EQ(b3.Activate(), 1);
    EXPECT_EQ(addressOf(Range(app_.GetActiveCell())), "$B$3");
    int scroll = 2;
    app_.Goto(const_cast<char *>("R5C3"), scroll);
    EXPECT_EQ(addressOf(Range(app_.GetActiveCell())), "$C$5");
    // Goto reads its text as R1C1: "C5" is the fifth column, whose first cell becomes active.
    app_.Goto(const_cast<char *>("C5"), scroll);
    EXPECT_EQ(addressOf(Range(app_.GetActiveCell())), "$E$1");

    excelWindow_c window(app_.GetActiveWindow());
    EXPECT_NE(Range(window.GetVisibleRange()).m_lpDispatch, nullptr);
    EXPECT_GT(number(window.GetUsableHeight()), 0.0);
    excelPane_c pane(window.GetActivePane());
    EXPECT_NE(Range(pane.GetVisibleRange()).m_lpDispatch, nullptr);

    VARIANT deleted = Range(app_.Range(const_cast<char *>("A1"))).Delete(-4162);
    VariantClear(&deleted);
    EXPECT_EQ(number(Range(app_.Range(const_cast<char *>("A1"))).GetValue()), 0.0)
        << "A2, empty, moved up";
    book.InvokeHelper(kClose, kCall, VT_EMPTY, nullptr, kBool, FALSE);
  });
}

TEST_F(CalcWrappersTest, FaultsReachTheHostAsExcelsWouldAndTheOfficeComesBack) {
  COleDispatchDriver book(addWorkbook());
  std::string description;
  EXPECT_EQ(faultOf([&] { Range(app_.Range(const_cast<char *>("NotACell!!"))); }, &description),
            VLX_HR(0x800A03EC));
  EXPECT_HAS(description, "Range");
  EXPECT_EQ(faultOf([&] {
              LPDISPATCH sheet = nullptr;
              book.InvokeHelper(kWorksheets, kCall, VT_DISPATCH, &sheet, kText, "Nope");
            }),
            DISP_E_BADINDEX);
  VARIANT missing;
  V_VT(&missing) = VT_BSTR;
  V_BSTR(&missing) = SysAllocString(u"Nope");
  EXPECT_EQ(faultOf([&] { Name(Names(app_.Names()).Item(missing)); }), DISP_E_BADINDEX);
  VariantClear(&missing);

  Range a1(app_.Range(const_cast<char *>("A1")));
  book.InvokeHelper(kClose, kCall, VT_EMPTY, nullptr, kBool, FALSE);
  EXPECT_EQ(faultOf([&] {
              VARIANT v = a1.GetValue();
              VariantClear(&v);
            }),
            VLX_HR(0x80010108)); // RPC_E_DISCONNECTED

  COleDispatchDriver again(addWorkbook());
  Range b1(app_.Range(const_cast<char *>("B1")));
  std::vector<pid_t> offices = officeChildren();
  ASSERT_EQ(offices.size(), 1u);
  // As a crash inside the office would: LibreOffice reports it in its log.
  ::kill(offices[0], SIGSEGV);
  EXPECT_EQ(faultOf(
                [&] {
                  VARIANT v = b1.GetValue();
                  VariantClear(&v);
                },
                &description),
            HRESULT_FROM_WIN32(1722)); // RPC_S_SERVER_UNAVAILABLE
  EXPECT_HAS(description, "stopped");
  EXPECT_HAS(description, "(its log ends: Fatal exception: Signal ");
  EXPECT_EQ(::kill(offices[0], 0), -1) << "the dead office was reaped";
  reporting([&] {
    COleDispatchDriver fresh(addWorkbook());
    Range(app_.Range(const_cast<char *>("A1"))).SetValue(const_cast<char *>("1"));
  });
  EXPECT_EQ(officeChildren().size(), 1u) << "the next call started a new office";
}

TEST_F(CalcWrappersTest, VlxSheetCommandsGoThroughTheServer) {
  std::string path = dir_.file("vlx.xlsx");
  reporting([&] {
    COleDispatchDriver book(addWorkbook());
    Range(app_.Range(const_cast<char *>("A1"))).SetValue(const_cast<char *>("42"));
    Range(app_.Range(const_cast<char *>("B3"))).SetName(const_cast<char *>("Total"));
    book.InvokeHelper(kSaveAs, kCall, VT_EMPTY, nullptr, kText, path.c_str());
    book.InvokeHelper(kClose, kCall, VT_EMPTY, nullptr, kBool, FALSE);
  });
  std::string locked = dir_.file("locked.xlsx");
  std::string readOnly = dir_.file("readonly.xlsx");
  std::filesystem::copy_file(path, locked);
  std::filesystem::copy_file(path, readOnly);
  ::chmod(readOnly.c_str(), 0444);
  // This process writes locked.xlsx while vlx runs.
  LPDISPATCH opened = nullptr;
  reporting([&] {
    Workbooks books(app_.Workbooks(0));
    books.InvokeHelper(kOpen, kCall, VT_DISPATCH, &opened, kText, locked.c_str());
  });
  COleDispatchDriver writer(opened);
  // The commands share one office, kept briefly, in a runtime directory of the test's own.
  const std::string run = dir_.file("run");
  ::mkdir(run.c_str(), 0700);
  vlx::test::ScopedEnv runtime("XDG_RUNTIME_DIR", run.c_str());
  vlx::test::ScopedEnv keep("VELMORA_CALC_KEEP_SECONDS", "2");
  struct Row {
    std::vector<std::string> args;
    int status;
    std::string output;
  } rows[] = {
      {{"sheets", path}, 0, "Sheet1\n"},
      {{"set", path, "Sheet1!C1", "hello"}, 0, ""},
      {{"get", path, "C1"}, 0, "hello\n"},
      {{"get", path, "A1:C2"}, 0, "42\t\thello\n\t\t\n"},
      {{"names", path}, 0, "Total\t=Sheet1!$B$3\n"},
      {{"get", path, "Nope!A1"},
       1,
       "vlx: Nope!A1: LibreOffice Calc: Workbook.Worksheets: no item is "
       "named 'Nope'\n"},
      {{"get", dir_.file("missing.xlsx"), "A1"},
       1,
       "vlx: cannot read " + dir_.file("missing.xlsx") + ": no such file\n"},
      {{"set", "--wait", "1", locked, "A1", "1"},
       1,
       "vlx: cannot write " + locked +
           ": another process is writing it (waited 1 s; see --wait)\n"},
      {{"get", locked, "A1"}, 0, "42\n"},
      {{"set", readOnly, "A1", "1"},
       1,
       "vlx: cannot write " + readOnly + ": the file is read-only\n"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.args[0]);
    std::vector<std::string> argv = {VLX_BINARY, "sheet"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    auto result = vlx::test::runCommand(argv);
    EXPECT_EQ(result.status, row.status);
    EXPECT_EQ(result.output, row.output);
  }
  writer.InvokeHelper(kClose, kCall, VT_EMPTY, nullptr, kBool, FALSE);

  vlx::test::TempDir empty;
  vlx::test::ScopedEnv unregistered("VELMORA_REGISTRY_DIR", empty.path().c_str());
  auto result = vlx::test::runCommand({VLX_BINARY, "sheet", "get", path, "A1"});
  EXPECT_EQ(result.status, 1);
  // What is missing, and the one command that brings it.
  EXPECT_HAS(result.output, "no spreadsheet server is registered for Excel.Application");
  EXPECT_HAS(result.output, "apt-get install");
}

} // namespace
