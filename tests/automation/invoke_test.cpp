// The named-argument invoke and the framework's dispatch driver, below the wrappers.
#include "automation/invoke_named.h"
#include "support/recording_dispatch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>

using namespace vlx::test;

namespace {

class InvokeTest : public ::testing::Test {
protected:
  void SetUp() override { driver_.AttachDispatch(&target_, FALSE); }
  void TearDown() override {
    driver_.DetachDispatch();
    EXPECT_EQ(target_.refs, 1);
    EXPECT_EQ(target_.overReleases, 0);
  }
  const RecordedCall &onlyCall() {
    EXPECT_EQ(target_.calls.size(), 1u);
    return target_.calls.back();
  }
  RecordingDispatch target_;
  COleDispatchDriver driver_;
};

TEST_F(InvokeTest, NamedArgumentsAreBuiltFromTheLastElement) {
  static const DISPID named[] = {10, 20, 30, 40, 50, 60};
  static const BYTE params[] = {VT_I2, VT_R4, VT_BOOL, VT_BSTR, VT_ERROR, VT_CY, 0};
  CY money;
  money.int64 = 25000;
  vlx::InvokeNamedHelper(driver_, 0x55, DISPATCH_PROPERTYPUT, VT_EMPTY, nullptr, named, params,
                         0x12345, 1.5f, 5, OLESTR("text"), DISP_E_PARAMNOTFOUND, &money);
  const RecordedCall &call = onlyCall();
  EXPECT_EQ(call.flags, DISPATCH_PROPERTYPUT) << "flags pass through untouched";
  EXPECT_EQ(call.named, std::vector<DISPID>(named, named + 6)) << "no DISPID_PROPERTYPUT added";
  EXPECT_FALSE(call.wantsResult);
  std::vector<std::pair<VARTYPE, std::string>> args;
  for (const RecordedArg &a : call.args)
    args.emplace_back(a.vt, a.value);
  const std::vector<std::pair<VARTYPE, std::string>> expected = {
      {VT_CY, "2.5"},  {VT_ERROR, "0x80020004"}, {VT_BSTR, "\"text\""},
      {VT_BOOL, "-1"}, {VT_R8, "1.5"},           {VT_I2, "9029"}}; // the low 16 bits
  EXPECT_EQ(args, expected);
}

TEST_F(InvokeTest, BooleanByReferenceIsRewrittenInTheCallersInteger) {
  static const DISPID named[] = {0, 1};
  static const BYTE params[] = {VT_BOOL | 0x40, VT_I4 | 0x40, 0};
  for (int given : {7, 0}) {
    SCOPED_TRACE(given);
    target_.calls.clear();
    int flag = given;
    LONG number = 3;
    vlx::InvokeNamedHelper(driver_, 1, 3, VT_EMPTY, nullptr, named, params, &flag, &number);
    EXPECT_EQ(flag, given ? -1 : 0);
    const RecordedCall &call = onlyCall();
    EXPECT_EQ(call.args[1].vt, VT_BOOL | VT_BYREF);
    EXPECT_EQ(call.args[1].ref, &flag) << "the caller's integer itself";
    EXPECT_EQ(call.args[0].vt, VT_I4 | VT_BYREF);
    EXPECT_EQ(call.args[0].ref, &number);
  }
}

TEST_F(InvokeTest, VtsStringsAreTheArgumentTypes) {
  // As wrapper members write them: one string per member, the types in argument order.
  static const BYTE params[] = VTS_BSTR VTS_I2 VTS_I4 VTS_R8 VTS_BOOL VTS_VARIANT VTS_PVARIANT
      VTS_DISPATCH VTS_I1 VTS_UI2 VTS_UI4 VTS_I8 VTS_UI8 VTS_WBSTR VTS_SCODE;
  COleVariant cell(2.5);
  VARIANT out;
  VariantInit(&out);
  driver_.InvokeHelper(7, DISPATCH_METHOD, VT_EMPTY, nullptr, params, "Book1.xlsx", 3, 70000L, 0.5,
                       TRUE, &cell, &out, static_cast<IDispatch *>(&target_), -2, 65535,
                       0xFFFFFFFFu, LONGLONG(1) << 40, ULONGLONG(1) << 63, OLESTR("wide"),
                       DISP_E_PARAMNOTFOUND);
  const RecordedCall &call = onlyCall();
  ASSERT_EQ(call.args.size(), 15u);
  std::vector<std::pair<VARTYPE, std::string>> args;
  for (auto a = call.args.rbegin(); a != call.args.rend(); ++a)
    args.emplace_back(a->vt, a->value);
  const std::vector<std::pair<VARTYPE, std::string>> expected = {{VT_BSTR, "\"Book1.xlsx\""},
                                                                 {VT_I2, "3"},
                                                                 {VT_I4, "70000"},
                                                                 {VT_R8, "0.5"},
                                                                 {VT_BOOL, "-1"},
                                                                 {VT_R8, "2.5"},
                                                                 {VT_VARIANT | VT_BYREF, "&"},
                                                                 {VT_DISPATCH, "(object)"},
                                                                 {VT_I1, "-2"},
                                                                 {VT_UI2, "65535"},
                                                                 {VT_UI4, "4294967295"},
                                                                 {VT_I8, "1099511627776"},
                                                                 {VT_UI8, "9223372036854775808"},
                                                                 {VT_BSTR, "\"wide\""},
                                                                 {VT_ERROR, "0x80020004"}};
  EXPECT_EQ(args, expected);
  EXPECT_EQ(call.args[14 - 6].ref, &out) << "VTS_PVARIANT passes the caller's VARIANT";
}

// Both invoke routines decode with one decoder: every code gives the same element through
// either, but VT_R4, which the named routine sends as the double it was promoted to.
TEST_F(InvokeTest, EveryVtsCodeDecodesAlikeInBothRoutines) {
  static const DISPID names[] = {0};
  CY money;
  money.int64 = 25000;
  COleVariant cell(2.5);
  VARIANT out;
  VariantInit(&out);
  BOOL flag = 5;
  LONG number = 3;
  auto both = [&](BYTE code, auto arg) {
    const BYTE params[] = {code, 0};
    target_.calls.clear();
    driver_.InvokeHelper(1, DISPATCH_METHOD, VT_EMPTY, nullptr, params, arg);
    vlx::InvokeNamedHelper(driver_, 1, DISPATCH_METHOD, VT_EMPTY, nullptr, names, params, arg);
    EXPECT_EQ(target_.calls.size(), 2u);
    return std::make_pair(target_.calls.at(0).args.at(0), target_.calls.at(1).args.at(0));
  };
  struct Row {
    BYTE code;
    std::function<std::pair<RecordedArg, RecordedArg>()> call;
    VARTYPE vt;
    ULONGLONG bits; // the framework's element's value bytes
  };
  auto low = [](auto value) {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    std::memcpy(&v.ullVal, &value, sizeof value);
    return v.ullVal;
  };
  const Row rows[] = {
      {VT_UI1, [&] { return both(VT_UI1, 200); }, VT_UI1, 200},
      {VT_I1, [&] { return both(VT_I1, -2); }, VT_I1, 0xFE},
      {VT_I2, [&] { return both(VT_I2, 0x12345); }, VT_I2, 0x2345},
      {VT_UI2, [&] { return both(VT_UI2, 65535); }, VT_UI2, 0xFFFF},
      {VT_I4, [&] { return both(VT_I4, LONG(-7)); }, VT_I4, 0xFFFFFFF9u},
      {VT_UI4, [&] { return both(VT_UI4, ULONG(0xFFFFFFFFu)); }, VT_UI4, 0xFFFFFFFFu},
      {VT_I8, [&] { return both(VT_I8, LONGLONG(1) << 40); }, VT_I8, 1ull << 40},
      {VT_UI8, [&] { return both(VT_UI8, ULONGLONG(1) << 63); }, VT_UI8, 1ull << 63},
      {VT_R8, [&] { return both(VT_R8, 0.5); }, VT_R8, low(0.5)},
      {VT_DATE, [&] { return both(VT_DATE, 2.25); }, VT_DATE, low(2.25)},
      {VT_CY, [&] { return both(VT_CY, &money); }, VT_CY, 25000},
      {VT_ERROR, [&] { return both(VT_ERROR, DISP_E_PARAMNOTFOUND); }, VT_ERROR,
       ULONG(DISP_E_PARAMNOTFOUND)},
      {VT_BOOL, [&] { return both(VT_BOOL, 9); }, VT_BOOL, 0xFFFF},
      {VT_DISPATCH, [&] { return both(VT_DISPATCH, static_cast<IDispatch *>(&target_)); },
       VT_DISPATCH, low(static_cast<IUnknown *>(&target_))},
      {VT_VARIANT, [&] { return both(VT_VARIANT, static_cast<const VARIANT *>(&cell)); }, VT_R8,
       low(2.5)},
      {VT_I4 | 0x40, [&] { return both(VT_I4 | 0x40, &number); }, VT_I4 | VT_BYREF, low(&number)},
      {VT_BOOL | 0x40, [&] { return both(VT_BOOL | 0x40, &flag); }, VT_BOOL | VT_BYREF,
       low(&flag)},
      {VT_VARIANT | 0x40, [&] { return both(VT_VARIANT | 0x40, &out); }, VT_VARIANT | VT_BYREF,
       low(&out)},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(int(row.code));
    auto [framework, named] = row.call();
    EXPECT_EQ(framework.vt, row.vt);
    EXPECT_EQ(framework.bits, row.bits) << "the array starts zero-filled";
    EXPECT_EQ(named.vt, framework.vt);
    EXPECT_EQ(named.value, framework.value);
  }
  EXPECT_EQ(flag, -1) << "a Boolean by reference is rewritten in the caller's integer";

  // Text, wide and narrow, arrives as a BSTR through both.
  for (BYTE code : {BYTE(VT_BSTR), BYTE(0x0E)}) {
    auto [framework, named] = code == VT_BSTR ? both(code, OLESTR("text")) : both(code, "text");
    EXPECT_EQ(framework.vt, VT_BSTR);
    EXPECT_EQ(framework.value, "\"text\"");
    EXPECT_EQ(named.value, framework.value);
  }
  auto floats = both(VT_R4, 0.25f);
  EXPECT_EQ(floats.first.vt, VT_R4);
  EXPECT_EQ(floats.second.vt, VT_R8);
  EXPECT_EQ(floats.second.value, "0.25");
}

TEST_F(InvokeTest, VtsNoneCallsWithoutArguments) {
  driver_.InvokeHelper(8, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE);
  EXPECT_TRUE(onlyCall().args.empty());
}

TEST_F(InvokeTest, NoParameterStringMeansNoArguments) {
  static const BYTE empty[] = {0};
  for (const BYTE *params : {static_cast<const BYTE *>(nullptr), empty}) {
    target_.calls.clear();
    LONG result = 0;
    target_.answer.result.vt = VT_I4;
    target_.answer.result.lVal = 8;
    vlx::InvokeNamedHelper(driver_, 2, 3, VT_I4, &result, nullptr, params);
    EXPECT_EQ(result, 8);
    EXPECT_TRUE(onlyCall().args.empty());
    EXPECT_TRUE(onlyCall().named.empty());
  }
}

TEST_F(InvokeTest, NullWideStringIsANullBstr) {
  static const DISPID named[] = {0};
  static const BYTE params[] = {VT_BSTR, 0};
  vlx::InvokeNamedHelper(driver_, 3, 3, VT_EMPTY, nullptr, named, params,
                         static_cast<LPCOLESTR>(nullptr));
  EXPECT_EQ(onlyCall().args[0].vt, VT_BSTR);
  EXPECT_EQ(onlyCall().args[0].bstr, nullptr);
}

TEST_F(InvokeTest, ResultKindsAreStoredAsTheCallerAsked) {
  static const BYTE none[] = {0};
  SHORT i2 = 0;
  FLOAT r4 = 0;
  DATE date = 0;
  CY cy{};
  BOOL b = 7;
  SCODE sc = 0;
  VARIANT v;
  VariantInit(&v);
  const std::tuple<VARTYPE, VARTYPE, double, void *, std::function<std::string()>, const char *>
      kinds[] = {
          {VT_I2, VT_R8, 2.5, &i2, [&] { return std::to_string(i2); }, "2"},
          {VT_R4, VT_R8, 0.25, &r4, [&] { return std::to_string(r4); }, "0.250000"},
          {VT_DATE, VT_R8, 36526.5, &date, [&] { return shortestDouble(date); }, "36526.5"},
          {VT_CY, VT_R8, 1.25, &cy, [&] { return std::to_string(cy.int64); }, "12500"},
          {VT_BOOL, VT_R8, 3, &b, [&] { return std::to_string(b); }, "1"},
          {VT_ERROR, VT_ERROR, 0, &sc, [&] { return std::to_string(sc); }, "-2147467259"},
          {VT_VARIANT, VT_DATE, 2, &v,
           [&] { return std::to_string(v.vt) + " " + renderVariant(v); }, "7 2"},
      };
  for (const auto &[vtRet, answerType, answer, target, read, expected] : kinds) {
    SCOPED_TRACE(vtRet);
    VARIANT &result = target_.answer.result;
    result.vt = answerType;
    result.dblVal = answer;
    if (answerType == VT_ERROR)
      result.scode = E_FAIL;
    vlx::InvokeNamedHelper(driver_, 4, 3, vtRet, target, nullptr, none);
    EXPECT_EQ(read(), expected);
  }
  target_.answer.result = VARIANT();
}

TEST_F(InvokeTest, FaultsLeaveTheResultUntouched) {
  static const DISPID named[] = {0};
  static const BYTE params[] = {VT_BSTR, 0};
  LONG result = 55;
  target_.answer.hr = E_ACCESSDENIED;
  try {
    vlx::InvokeNamedHelper(driver_, 5, 3, VT_I4, &result, named, params, OLESTR("made"));
    ADD_FAILURE() << "no exception";
  } catch (COleException *e) {
    EXPECT_EQ(e->m_sc, E_ACCESSDENIED);
    e->Delete();
  }
  EXPECT_EQ(result, 55);
  target_.answer.hr = S_OK;
  target_.answer.result.vt = VT_NULL;
  try {
    vlx::InvokeNamedHelper(driver_, 5, 3, VT_I4, &result, named, params, OLESTR("made"));
  } catch (COleException *e) {
    EXPECT_EQ(e->m_sc, DISP_E_TYPEMISMATCH) << "null does not become an integer";
    e->Delete();
  }
  EXPECT_EQ(result, 55);
}

// The framework's own rules: the put's named value, PUTREF for an interface, narrow text.
TEST_F(InvokeTest, DriverPutsNameTheirValue) {
  RecordingDispatch other;
  driver_.SetProperty(0x10, VT_DISPATCH, static_cast<IDispatch *>(&other));
  driver_.SetProperty(0x11, VT_BSTR, "narrow");
  VARIANT value;
  V_VT(&value) = VT_I4;
  V_I4(&value) = 6;
  driver_.SetProperty(0x12, VT_VARIANT, &value);
  ASSERT_EQ(target_.calls.size(), 3u);
  EXPECT_EQ(target_.calls[0].flags, DISPATCH_PROPERTYPUTREF);
  EXPECT_EQ(target_.calls[0].args[0].vt, VT_DISPATCH);
  EXPECT_EQ(target_.calls[1].flags, DISPATCH_PROPERTYPUT);
  EXPECT_EQ(target_.calls[1].args[0].value, "\"narrow\"");
  EXPECT_EQ(target_.calls[2].args[0].value, "6");
  for (const RecordedCall &call : target_.calls)
    EXPECT_EQ(call.named, std::vector<DISPID>{DISPID_PROPERTYPUT});
  EXPECT_EQ(other.refs, 1) << "an argument is lent, not given";
}

TEST_F(InvokeTest, DriverSharesAndReleasesItsReference) {
  RecordingDispatch object;
  {
    COleDispatchDriver owner(&object); // takes over the reference the caller had
    object.AddRef();
    COleDispatchDriver copy(owner);
    EXPECT_EQ(object.refs, 3);
    COleDispatchDriver assigned;
    assigned = copy;
    EXPECT_EQ(object.refs, 4);
    const COleDispatchDriver &same = assigned;
    assigned = same; // to itself: no change
    EXPECT_EQ(object.refs, 4);
    LPDISPATCH detached = assigned.DetachDispatch();
    EXPECT_EQ(detached, &object);
    detached->Release();
    COleDispatchDriver borrowed;
    borrowed.AttachDispatch(&object, FALSE);
    borrowed.ReleaseDispatch();
    EXPECT_EQ(borrowed.m_lpDispatch, nullptr);
    EXPECT_EQ(object.refs, 3) << "a borrowed pointer is not released";
  }
  EXPECT_EQ(object.refs, 1);
  EXPECT_EQ(object.overReleases, 0);
}

TEST(OleExceptions, ProcessNamesTheCodeOfAnyException) {
  COleException ole;
  ole.m_sc = DISP_E_OVERFLOW;
  CMemoryException memory;
  CNotSupportedException unsupported;
  COleDispatchException dispatch("x", 0, 1);
  EXPECT_EQ(COleException::Process(&ole), DISP_E_OVERFLOW);
  EXPECT_EQ(COleException::Process(&memory), E_OUTOFMEMORY);
  EXPECT_EQ(COleException::Process(&unsupported), E_NOTIMPL);
  EXPECT_EQ(COleException::Process(&dispatch), DISP_E_EXCEPTION);

  TCHAR message[64];
  ole.m_sc = static_cast<SCODE>(0x8004FFFF);
  ole.GetErrorMessage(message, sizeof message);
  EXPECT_STREQ(message, "OLE error. (0x8004FFFF)");
  ole.GetErrorMessage(message, 8);
  EXPECT_STREQ(message, "OLE err") << "cut to the buffer, terminated";
  COleDispatchException bare(nullptr, 0, 12);
  bare.GetErrorMessage(message, sizeof message);
  EXPECT_STREQ(message, "The server raised exception 12.");
}

TEST(OleExceptions, ThrowHelpersThrowNewObjectsByPointer) {
  try {
    AfxThrowOleDispatchException(3, "Busy", 9);
  } catch (COleDispatchException *e) {
    EXPECT_EQ(e->m_wCode, 3);
    EXPECT_EQ(e->m_strDescription, "Busy");
    EXPECT_EQ(e->m_dwHelpContext, 9u);
    EXPECT_TRUE(e->m_bAutoDelete);
    e->Delete();
  }
  try {
    AfxThrowOleException(E_ABORT);
  } catch (CException *e) {
    EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(COleException)));
    e->Delete();
  }
}

} // namespace
