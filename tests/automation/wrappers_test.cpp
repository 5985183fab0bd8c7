// The 38 wrapper members against the exact invoke each sends and what each returns, with no
// dispatch pointer, and every way a call fails.
#include "support/recording_dispatch.h"

#include <velmora/automation.h>

#include <gtest/gtest.h>

#include <functional>
#include <type_traits>

using namespace vlx::test;

namespace {

// The wrappers are the driver and nothing more: a host may treat one as the other.
static_assert(sizeof(Application) == sizeof(COleDispatchDriver) &&
                  sizeof(Range) == sizeof(COleDispatchDriver) &&
                  sizeof(excelPanes_c) == sizeof(COleDispatchDriver) &&
                  !std::is_polymorphic_v<Worksheet>,
              "wrappers add no data and no virtual functions");

std::string show(LPDISPATCH p) {
  if (p == nullptr)
    return "null";
  p->Release(); // the reference the member handed over
  return "object";
}
std::string show(VARIANT v) {
  std::string text = renderVariant(v);
  VariantClear(&v);
  return text;
}
std::string show(const CString &s) { return "\"" + std::string(s) + "\""; }
std::string show(int i) { return std::to_string(i); }

template <class Wrapper, class Call> std::function<std::string(IDispatch *)> on(Call call) {
  return [call](IDispatch *dispatch) {
    Wrapper wrapper;
    wrapper.AttachDispatch(dispatch, FALSE);
    return call(wrapper);
  };
}

char *chars(const char *literal) { return const_cast<char *>(literal); }

std::string arg(VARTYPE vt, const std::string &value) { return std::to_string(vt) + " " + value; }

enum Answer { Object, Number, Text, True, Nothing };

struct MemberCase {
  const char *member;
  std::function<std::string(IDispatch *)> call;
  DISPID dispid;
  WORD flags;
  std::vector<std::string> args; // in array order: the last parameter first
  std::vector<DISPID> named;
  Answer answer;
  const char *returns;       // what the member gives for the answer
  const char *withoutObject; // what it gives with no dispatch pointer
};

// Narrow text reaches OLE through the ANSI code page: UTF-8 on POSIX, where the two bytes of an
// accented letter are one character; a single-byte page on Windows (1252), where they are two,
// shown again as UTF-8.
#ifdef _WIN32
const char kAccentedText[] = "\"x\xc3\x83\xc2\xa9\"";
#else
const char kAccentedText[] = "\"x\xc3\xa9\"";
#endif

const WORD kGet = DISPATCH_PROPERTYGET, kPut = DISPATCH_PROPERTYPUT, kMethod = 3;
const DISPID kPutId = DISPID_PROPERTYPUT;

const std::vector<MemberCase> &memberCases() {
  static VARIANT row, column;
  V_VT(&row) = VT_I4;
  V_I4(&row) = 4;
  V_VT(&column) = VT_R8;
  V_R8(&column) = 2.5;
  // clang-format off
  static const std::vector<MemberCase> cases = {
    {"Application::GetActiveCell", on<Application>([](Application &a) { return show(a.GetActiveCell()); }), 0x131, kGet, {}, {}, Object, "object", "null"},
    {"Application::GetActiveWindow", on<Application>([](Application &a) { return show(a.GetActiveWindow()); }), 0x2F7, kGet, {}, {}, Object, "object", "null"},
    {"Application::GetActiveWorkbook", on<Application>([](Application &a) { return show(a.GetActiveWorkbook()); }), 0x134, kGet, {}, {}, Object, "object", "null"},
    {"Application::SetVisible", on<Application>([](Application &a) { a.SetVisible(5); return std::string(); }), 0x22E, kPut, {arg(VT_BOOL, "-1")}, {kPutId}, Nothing, "", ""},
    {"Application::Goto true", on<Application>([](Application &a) { int scroll = 2; return show(a.Goto(chars("R1C1"), scroll)); }), 0x1DB, kMethod, {arg(VT_BOOL, "-1"), arg(VT_BSTR, "\"R1C1\"")}, {}, True, "1", "0"},
    {"Application::Goto false", on<Application>([](Application &a) { int scroll = 0; return show(a.Goto(chars("A1"), scroll)); }), 0x1DB, kMethod, {arg(VT_BOOL, "0"), arg(VT_BSTR, "\"A1\"")}, {}, True, "1", "0"},
    {"Application::Names", on<Application>([](Application &a) { return show(a.Names()); }), 0x1BA, kMethod, {}, {}, Object, "object", "null"},
    {"Application::Range(2)", on<Application>([](Application &a) { return show(a.Range(chars("A1"), chars("B2"))); }), 0xC5, kMethod, {arg(VT_BSTR, "\"B2\""), arg(VT_BSTR, "\"A1\"")}, {}, Object, "object", "null"},
    {"Application::Range(1)", on<Application>([](Application &a) { return show(a.Range(chars("A1"))); }), 0xC5, kMethod, {arg(VT_BSTR, "\"A1\"")}, {}, Object, "object", "null"},
    {"Application::Workbooks(0)", on<Application>([](Application &a) { return show(a.Workbooks(0)); }), 0x23C, kMethod, {}, {}, Object, "object", "null"},
    {"Application::Workbooks(7)", on<Application>([](Application &a) { return show(a.Workbooks(7)); }), 0x23C, kMethod, {}, {}, Object, "object", "null"},
    {"Range::GetColumnWidth", on<Range>([](Range &r) { return show(r.GetColumnWidth()); }), 0xF2, kGet, {}, {}, Number, "12.5", "(empty)"},
    {"Range::GetCount", on<Range>([](Range &r) { return show(r.GetCount()); }), 0x76, kGet, {}, {}, Number, "12.5", "(empty)"},
    {"Range::GetHeight", on<Range>([](Range &r) { return show(r.GetHeight()); }), 0x7B, kGet, {}, {}, Number, "12.5", "(empty)"},
    {"Range::GetName", on<Range>([](Range &r) { return show(r.GetName()); }), 0x6E, kMethod, {}, {}, Object, "object", "null"},
    {"Range::SetName", on<Range>([](Range &r) { r.SetName(chars("Totals")); return std::string(); }), 0x6E, kPut, {arg(VT_BSTR, "\"Totals\"")}, {kPutId}, Nothing, "", ""},
    {"Range::GetRowHeight", on<Range>([](Range &r) { return show(r.GetRowHeight()); }), 0x110, kGet, {}, {}, Number, "12.5", "(empty)"},
    {"Range::GetValue", on<Range>([](Range &r) { return show(r.GetValue()); }), 0x6, kGet, {}, {}, Text, "\"Sheet1\"", "(empty)"},
    {"Range::SetValue", on<Range>([](Range &r) { r.SetValue(chars("x\xc3\xa9")); return std::string(); }), 0x6, kPut, {arg(VT_BSTR, kAccentedText)}, {kPutId}, Nothing, "", ""},
    {"Range::GetWidth", on<Range>([](Range &r) { return show(r.GetWidth()); }), 0x7A, kGet, {}, {}, Number, "12.5", "(empty)"},
    {"Range::Activate", on<Range>([](Range &r) { return show(r.Activate()); }), 0x130, kMethod, {}, {}, True, "1", "0"},
    {"Range::Cells", on<Range>([](Range &r) { return show(r.Cells(row, column)); }), 0xEE, kMethod, {arg(VT_R8, "2.5"), arg(VT_I4, "4")}, {}, Object, "object", "null"},
    {"Range::Columns(3)", on<Range>([](Range &r) { return show(r.Columns(3)); }), 0xF1, kMethod, {arg(VT_I4, "3")}, {}, Object, "object", "null"},
    {"Range::Columns()", on<Range>([](Range &r) { return show(r.Columns()); }), 0xF1, kMethod, {}, {}, Object, "object", "null"},
    {"Range::Delete", on<Range>([](Range &r) { return show(r.Delete(-4162)); }), 0x75, kMethod, {arg(VT_I4, "-4162")}, {}, Number, "12.5", "(empty)"},
    {"Range::Offset", on<Range>([](Range &r) { return show(r.Offset(1, 2)); }), 0xFE, kMethod, {arg(VT_I4, "2"), arg(VT_I4, "1")}, {}, Object, "object", "null"},
    {"Range::Rows(VARIANT)", on<Range>([](Range &r) { return show(r.Rows(row)); }), 0x102, kMethod, {arg(VT_I4, "4")}, {}, Object, "object", "null"},
    {"Range::Rows()", on<Range>([](Range &r) { return show(r.Rows()); }), 0x102, kMethod, {}, {}, Object, "object", "null"},
    {"Worksheet::GetName", on<Worksheet>([](Worksheet &w) { return show(w.GetName()); }), 0x6E, kGet, {}, {}, Text, "\"Sheet1\"", "\"\""},
    {"Worksheet::GetNext", on<Worksheet>([](Worksheet &w) { return show(w.GetNext()); }), 0x1F6, kGet, {}, {}, Object, "object", "null"},
    {"Worksheet::Activate", on<Worksheet>([](Worksheet &w) { return show(w.Activate()); }), 0x130, kMethod, {}, {}, True, "1", "0"},
    {"Worksheet::Application", on<Worksheet>([](Worksheet &w) { return show(w.Application()); }), 0x94, kMethod, {}, {}, Object, "object", "null"},
    {"Worksheet::Rows", on<Worksheet>([](Worksheet &w) { return show(w.Rows(9)); }), 0x102, kMethod, {arg(VT_I4, "9")}, {}, Object, "object", "null"},
    // The count is read as VT_I4: a double answer is rounded half to even.
    {"Names::GetCount", on<Names>([](Names &n) { return show(n.GetCount()); }), 0x76, kGet, {}, {}, Number, "12", "0"},
    {"Names::Item", on<Names>([](Names &n) { return show(n.Item(row)); }), 0xAA, kMethod, {arg(VT_I4, "4")}, {0}, Object, "object", "null"},
    {"Name::GetName", on<Name>([](Name &n) { return show(n.GetName()); }), 0x6E, kGet, {}, {}, Text, "\"Sheet1\"", "\"\""},
    {"excelWindow_c::GetActivePane", on<excelWindow_c>([](excelWindow_c &w) { return show(w.GetActivePane()); }), 0x282, kGet, {}, {}, Object, "object", "null"},
    {"excelWindow_c::GetUsableHeight", on<excelWindow_c>([](excelWindow_c &w) { return show(w.GetUsableHeight()); }), 0x185, kGet, {}, {}, Number, "12.5", "(empty)"},
    {"excelWindow_c::GetVisibleRange", on<excelWindow_c>([](excelWindow_c &w) { return show(w.GetVisibleRange()); }), 0x45E, kGet, {}, {}, Object, "object", "null"},
    {"excelPane_c::GetVisibleRange", on<excelPane_c>([](excelPane_c &p) { return show(p.GetVisibleRange()); }), 0x45E, kGet, {}, {}, Object, "object", "null"},
  };
  // clang-format on
  return cases;
}

class WrapperTest : public ::testing::Test {
protected:
  void answerWith(Answer kind) {
    VARIANT &v = spreadsheet_.answer.result;
    VariantClear(&v);
    switch (kind) {
    case Object:
      V_VT(&v) = VT_DISPATCH;
      V_DISPATCH(&v) = &child_;
      child_.AddRef();
      break;
    case Number:
      V_VT(&v) = VT_R8;
      V_R8(&v) = 12.5;
      break;
    case Text:
      V_VT(&v) = VT_BSTR;
      V_BSTR(&v) = SysAllocString(OLESTR("Sheet1"));
      break;
    case True:
      V_VT(&v) = VT_BOOL;
      V_BOOL(&v) = VARIANT_TRUE;
      break;
    case Nothing:
      break;
    }
  }
  void TearDown() override {
    VariantClear(&spreadsheet_.answer.result);
    EXPECT_EQ(spreadsheet_.refs, 1);
    EXPECT_EQ(child_.refs, 1) << "every reference handed out came back";
    EXPECT_EQ(spreadsheet_.overReleases + child_.overReleases, 0);
  }
  RecordingDispatch spreadsheet_, child_;
};

TEST_F(WrapperTest, EachMemberSendsItsOneInvokeAndReturnsTheAnswer) {
  ASSERT_EQ(memberCases().size(), 40u) << "the 38 members, Goto and Workbooks twice";
  for (const MemberCase &c : memberCases()) {
    SCOPED_TRACE(c.member);
    spreadsheet_.calls.clear();
    answerWith(c.answer);
    EXPECT_EQ(c.call(&spreadsheet_), c.returns);
    ASSERT_EQ(spreadsheet_.calls.size(), 1u);
    const RecordedCall &call = spreadsheet_.calls[0];
    EXPECT_EQ(call.dispid, c.dispid);
    EXPECT_EQ(call.flags, c.flags);
    EXPECT_TRUE(call.nullIid);
    EXPECT_EQ(call.lcid, 0u);
    EXPECT_EQ(call.wantsResult, c.flags != kPut);
    std::vector<std::string> args;
    for (const RecordedArg &a : call.args)
      args.push_back(arg(a.vt, a.value));
    EXPECT_EQ(args, c.args);
    EXPECT_EQ(call.named, c.named);
  }
}

TEST_F(WrapperTest, WithoutAnObjectNothingIsCalled) {
  for (const MemberCase &c : memberCases()) {
    SCOPED_TRACE(c.member);
    EXPECT_EQ(c.call(nullptr), c.withoutObject);
  }
}

TEST_F(WrapperTest, CallerVariantsAreLentNotCopiedOrCleared) {
  VARIANT text;
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocString(OLESTR("Total"));
  Names names;
  names.AttachDispatch(&spreadsheet_, FALSE);
  answerWith(Object);
  EXPECT_EQ(show(names.Item(text)), "object");
  ASSERT_EQ(spreadsheet_.calls.size(), 1u);
  EXPECT_EQ(spreadsheet_.calls[0].args[0].bstr, V_BSTR(&text)) << "the caller's own string";
  EXPECT_EQ(V_VT(&text), VT_BSTR);
  EXPECT_EQ(std::basic_string<OLECHAR>(V_BSTR(&text)), OLESTR("Total"))
      << "still the caller's, still valid";
  VariantClear(&text);
}

// How each failure reaches the caller: the exception, its contents, and nothing left behind.
TEST_F(WrapperTest, PlainFailureThrowsOleExceptionAndClearsTheResult) {
  Application app;
  app.AttachDispatch(&spreadsheet_, FALSE);
  answerWith(Object);
  spreadsheet_.answer.hr = DISP_E_MEMBERNOTFOUND;
  spreadsheet_.answer.resultOnFailure = true;
  try {
    app.Range(chars("A1"), chars("B2"));
    ADD_FAILURE() << "no exception";
  } catch (COleException *e) {
    EXPECT_EQ(e->m_sc, DISP_E_MEMBERNOTFOUND);
    TCHAR message[128];
    EXPECT_TRUE(e->GetErrorMessage(message, sizeof message));
    EXPECT_STREQ(message, "The object has no such member. (0x80020003)");
    e->Delete();
  }
  EXPECT_EQ(child_.refs, 2) << "the failed call's result was cleared: one reference is ours";
}

TEST_F(WrapperTest, DispatchExceptionCarriesTheServersTexts) {
  Worksheet sheet;
  sheet.AttachDispatch(&spreadsheet_, FALSE);
  DispatchAnswer &a = spreadsheet_.answer;
  a.hr = DISP_E_EXCEPTION;
  a.wCode = 1004;
  a.source = OLESTR("Sheet");
  a.description = OLESTR("Cannot read the name");
  a.helpFile = OLESTR("sheet.hlp");
  a.helpContext = 77;
  a.scode = E_FAIL;
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred fill-in" : "filled at once");
    a.deferred = deferred;
    try {
      sheet.GetName();
      ADD_FAILURE() << "no exception";
    } catch (COleDispatchException *e) {
      EXPECT_EQ(e->m_wCode, 1004);
      EXPECT_EQ(e->m_strSource, "Sheet");
      EXPECT_EQ(e->m_strDescription, "Cannot read the name");
      EXPECT_EQ(e->m_strHelpFile, "sheet.hlp");
      EXPECT_EQ(e->m_dwHelpContext, 77u);
      EXPECT_EQ(e->m_scError, E_FAIL);
      TCHAR message[128];
      UINT help = 0;
      EXPECT_TRUE(e->GetErrorMessage(message, sizeof message, &help));
      EXPECT_STREQ(message, "Sheet: Cannot read the name");
      EXPECT_EQ(help, 77u);
      e->Delete();
    }
  }

  // Only a description: the other texts stay empty.
  a = DispatchAnswer();
  a.hr = DISP_E_EXCEPTION;
  a.description = OLESTR("Locked");
  try {
    sheet.Activate();
    ADD_FAILURE() << "no exception";
  } catch (COleDispatchException *e) {
    EXPECT_EQ(e->m_strDescription, "Locked");
    EXPECT_TRUE(e->m_strSource.IsEmpty());
    EXPECT_TRUE(e->m_strHelpFile.IsEmpty());
    EXPECT_EQ(e->m_wCode, 0);
    e->Delete();
  }
}

TEST_F(WrapperTest, AnAnswerOfTheWrongTypeThrowsTheConversionsCode) {
  struct Wrong {
    const char *what;
    std::function<void()> call;
    VARIANT answer;
    HRESULT expected;
  };
  Names names;
  names.AttachDispatch(&spreadsheet_, FALSE);
  Range range;
  range.AttachDispatch(&spreadsheet_, FALSE);
  VARIANT text, number;
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocString(OLESTR("many"));
  V_VT(&number) = VT_R8;
  V_R8(&number) = 1e12;
  const Wrong cases[] = {
      {"count as text", [&] { names.GetCount(); }, text, DISP_E_TYPEMISMATCH},
      {"count too large", [&] { names.GetCount(); }, number, DISP_E_OVERFLOW},
      {"object as a number", [&] { range.Offset(1, 1); }, number, DISP_E_TYPEMISMATCH},
  };
  for (const Wrong &c : cases) {
    SCOPED_TRACE(c.what);
    spreadsheet_.answer.result = c.answer;
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (COleException *e) {
      EXPECT_EQ(e->m_sc, c.expected);
      e->Delete();
    }
  }
  spreadsheet_.answer.result = VARIANT();
  VariantClear(&text);
}

} // namespace
