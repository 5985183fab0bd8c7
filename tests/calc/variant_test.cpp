// The VARIANT <-> Any conversion table, and the dispatch layer's argument and error handling on
// an object that needs no office.
#include "dispatch.h"
#include "variant.h"

#include <com/sun/star/bridge/oleautomation/Currency.hpp>
#include <com/sun/star/bridge/oleautomation/Date.hpp>
#include <com/sun/star/bridge/oleautomation/SCode.hpp>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

namespace vlx::calc {
namespace {

using css::uno::Any;
namespace ole = css::bridge::oleautomation;

BSTR bstr(const char16_t *text) { return SysAllocString(text); }

// A VARIANT of type `vt` holding `value`: every member of its union starts at the same byte.
template <class T = LONG> VARIANT var(VARTYPE vt, T value = T()) {
  static_assert(sizeof(T) <= sizeof(LONGLONG), "a scalar or a pointer");
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = vt;
  V_I8(&v) = 0;
  std::memcpy(&V_I8(&v), &value, sizeof value);
  return v;
}

TEST(CalcVariant, HostValuesReachLibreOfficeAsBasicPassesThem) {
  LONG byRefLong = 12;
  SCODE na = SCODE(0x800A07FA);
  VARIANT inner = var(VT_R8, 0.5);
  const struct Row {
    const char *what;
    VARIANT in;
    HRESULT hr;
    Any expected;
  } rows[] = {
      {"I4 that fits 16 bits", var(VT_I4, LONG(-32768)), S_OK, Any(sal_Int16(-32768))},
      {"I4 beyond 16 bits", var(VT_I4, LONG(40000)), S_OK, Any(sal_Int32(40000))},
      {"I8 beyond 32 bits", var(VT_I8, 1LL << 40), S_OK, Any(sal_Int64(1LL << 40))},
      {"UI8 beyond 63 bits", var(VT_UI8, ~0ULL), DISP_E_OVERFLOW, Any()},
      {"R4", var(VT_R4, 1.5f), S_OK, Any(1.5f)},
      {"R8", var(VT_R8, 2.25), S_OK, Any(2.25)},
      {"CY keeps its kind", var(VT_CY, LONGLONG(12345)), S_OK, Any(ole::Currency(12345))},
      {"DATE keeps its kind", var(VT_DATE, 45000.5), S_OK, Any(ole::Date(45000.5))},
      {"#NULL!", var(VT_ERROR, SCODE(0x800A07D0)), S_OK, Any(ole::SCode(SCODE(0x800A07D0)))},
      {"#N/A by reference", var(VT_ERROR | VT_BYREF, &na), S_OK, Any(ole::SCode(na))},
      {"not a cell error", var(VT_ERROR, SCODE(0x800A07D1)), DISP_E_TYPEMISMATCH, Any()},
      {"BOOL true", var(VT_BOOL, VARIANT_BOOL(-1)), S_OK, Any(true)},
      {"BSTR", var(VT_BSTR, bstr(u"h\u00e9llo")), S_OK, Any(fromOle(u"h\u00e9llo", 5))},
      {"null BSTR", var(VT_BSTR, BSTR()), S_OK, Any(rtl::OUString())},
      {"EMPTY", var(VT_EMPTY), S_OK, Any()},
      {"omitted argument", var(VT_ERROR, SCODE(DISP_E_PARAMNOTFOUND)), S_OK, Any()},
      {"other ERROR", var(VT_ERROR, SCODE(E_FAIL)), DISP_E_TYPEMISMATCH, Any()},
      {"I4 by reference", var(VT_I4 | VT_BYREF, &byRefLong), S_OK, Any(sal_Int16(12))},
      {"VARIANT by reference", var(VT_VARIANT | VT_BYREF, &inner), S_OK, Any(0.5)},
      {"null reference", var(VT_I4 | VT_BYREF, static_cast<LONG *>(nullptr)), E_POINTER, Any()},
      {"VARIANT by value", var(VT_VARIANT), DISP_E_BADVARTYPE, Any()},
      {"array without its SAFEARRAY", var(VT_ARRAY | VT_I4), E_POINTER, Any()},
      {"foreign interface", var(VT_DISPATCH, static_cast<IDispatch *>(nullptr)),
       DISP_E_TYPEMISMATCH, Any()},
  };
  for (Row row : rows) {
    SCOPED_TRACE(row.what);
    Any out(sal_Int32(99));
    EXPECT_EQ(variantToAny(row.in, out), row.hr);
    if (row.hr == S_OK) {
      EXPECT_EQ(out.getValueType(), row.expected.getValueType());
      EXPECT_EQ(out, row.expected);
    }
    if (V_VT(&row.in) == VT_BSTR)
      VariantClear(&row.in); // the only rows that own what they hold
  }
  // Other arguments than cell values take dates and currency as Basic passes them.
  EXPECT_EQ(plainValue(Any(ole::Date(45000.5))), Any(45000.5));
  EXPECT_EQ(plainValue(Any(ole::Currency(12345))), Any(1.2345));
  EXPECT_EQ(plainValue(Any(sal_Int16(3))), Any(sal_Int16(3)));
}

TEST(CalcVariant, LibreOfficeAnswersReachTheHostAsExcelGivesThem) {
  struct Row {
    const char *what;
    Any value;
    HRESULT hr;
    VARTYPE vt;
    std::function<void(const VARIANT &)> check;
  } rows[] = {
      {"nothing", Any(), S_OK, VT_EMPTY, nullptr},
      {"Boolean", Any(true), S_OK, VT_BOOL, [](const VARIANT &v) { EXPECT_EQ(V_BOOL(&v), -1); }},
      {"short", Any(sal_Int16(-5)), S_OK, VT_I2, [](const VARIANT &v) { EXPECT_EQ(V_I2(&v), -5); }},
      {"long", Any(sal_Int32(70000)), S_OK, VT_I4,
       [](const VARIANT &v) { EXPECT_EQ(V_I4(&v), 70000); }},
      {"hyper that fits 32 bits", Any(sal_Int64(5)), S_OK, VT_I4,
       [](const VARIANT &v) { EXPECT_EQ(V_I4(&v), 5); }},
      {"hyper beyond 32 bits", Any(sal_Int64(1LL << 40)), S_OK, VT_I8,
       [](const VARIANT &v) { EXPECT_EQ(V_I8(&v), 1LL << 40); }},
      {"double", Any(42.5), S_OK, VT_R8, [](const VARIANT &v) { EXPECT_EQ(V_R8(&v), 42.5); }},
      {"date", Any(ole::Date(45000.25)), S_OK, VT_DATE,
       [](const VARIANT &v) { EXPECT_EQ(V_DATE(&v), 45000.25); }},
      {"currency", Any(ole::Currency(-123456)), S_OK, VT_CY,
       [](const VARIANT &v) { EXPECT_EQ(V_CY(&v).int64, -123456); }},
      {"cell error", Any(ole::SCode(SCODE(0x800A07D7))), S_OK, VT_ERROR,
       [](const VARIANT &v) { EXPECT_EQ(V_ERROR(&v), SCODE(0x800A07D7)); }},
      {"type", Any(css::uno::Type()), DISP_E_BADVARTYPE, VT_EMPTY, nullptr},
      {"string", Any(fromOle(u"Gr\u00fc\u00dfe", 5)), S_OK, VT_BSTR,
       [](const VARIANT &v) {
         EXPECT_EQ(SysStringLen(V_BSTR(&v)), 5u);
         EXPECT_EQ(std::u16string(V_BSTR(&v)), u"Gr\u00fc\u00dfe");
       }},
      {"interface", Any(css::uno::Reference<css::uno::XInterface>()), DISP_E_TYPEMISMATCH, VT_EMPTY,
       nullptr},
      {"sequence", Any(css::uno::Sequence<double>(2)), DISP_E_BADVARTYPE, VT_EMPTY, nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.what);
    VARIANT out = var(VT_EMPTY);
    EXPECT_EQ(anyToVariant(row.value, out), row.hr);
    EXPECT_EQ(V_VT(&out), row.vt) << "written only on success";
    if (row.check)
      row.check(out);
    VariantClear(&out);
  }
}

// A SAFEARRAY of `vt` with these bounds (rows first), elements set by index.
SAFEARRAY *newArray(VARTYPE vt, std::vector<SAFEARRAYBOUND> bounds) {
  return SafeArrayCreate(vt, UINT(bounds.size()), bounds.data());
}

TEST(CalcVariant, ArraysAreRowsOfValuesBothWays) {
  // A host's 2 x 3 array with bounds from 0 and -1: rows first, whatever the bounds.
  SAFEARRAY *grid = newArray(VT_VARIANT, {{2, 0}, {3, -1}});
  for (LONG row = 0; row < 2; ++row)
    for (LONG column = -1; column < 2; ++column) {
      LONG at[2] = {row, column};
      VARIANT v = var(VT_I4, LONG(row * 10 + column + 1));
      ASSERT_EQ(SafeArrayPutElement(grid, at, &v), S_OK);
    }
  LONG textAt[2] = {1, 1};
  VARIANT text = var(VT_BSTR, bstr(u"t"));
  ASSERT_EQ(SafeArrayPutElement(grid, textAt, &text), S_OK);
  VariantClear(&text);
  VARIANT in = var(VT_ARRAY | VT_VARIANT, grid);
  Any out;
  ASSERT_EQ(variantToAny(in, out), S_OK);
  css::uno::Sequence<css::uno::Sequence<Any>> rows;
  ASSERT_TRUE(out >>= rows);
  ASSERT_EQ(rows.getLength(), 2);
  ASSERT_EQ(rows[1].getLength(), 3);
  EXPECT_EQ(rows[0][0], Any(sal_Int16(0)));
  EXPECT_EQ(rows[0][2], Any(sal_Int16(2)));
  EXPECT_EQ(rows[1][0], Any(sal_Int16(10)));
  EXPECT_EQ(rows[1][2], Any(fromOle(u"t", 1)));

  // Back to the host: two dimensions, bounds from 1, each element typed as a single value.
  rows.getArray()[0].getArray()[1] <<= ole::Date(45000.5);
  rows.getArray()[1].getArray()[1] <<= ole::SCode(SCODE(0x800A07FA));
  VARIANT back = var(VT_EMPTY);
  ASSERT_EQ(anyToVariant(Any(rows), back), S_OK);
  ASSERT_EQ(V_VT(&back), VT_ARRAY | VT_VARIANT);
  ASSERT_EQ(SafeArrayGetDim(V_ARRAY(&back)), 2u);
  LONG low = 0, high = 0;
  SafeArrayGetLBound(V_ARRAY(&back), 1, &low);
  SafeArrayGetUBound(V_ARRAY(&back), 1, &high);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 2) << "rows";
  SafeArrayGetLBound(V_ARRAY(&back), 2, &low);
  SafeArrayGetUBound(V_ARRAY(&back), 2, &high);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(high, 3) << "columns";
  auto element = [&](LONG row, LONG column) {
    LONG at[2] = {row, column};
    VARIANT v = var(VT_EMPTY);
    EXPECT_EQ(SafeArrayGetElement(V_ARRAY(&back), at, &v), S_OK);
    return v;
  };
  VARIANT date = element(1, 2), error = element(2, 2), number = element(1, 3), word = element(2, 3);
  EXPECT_EQ(V_VT(&date), VT_DATE);
  EXPECT_EQ(V_VT(&error), VT_ERROR);
  EXPECT_EQ(V_ERROR(&error), SCODE(0x800A07FA));
  EXPECT_EQ(V_VT(&number), VT_I2);
  EXPECT_EQ(V_I2(&number), 2);
  EXPECT_EQ(V_VT(&word), VT_BSTR);
  VariantClear(&word);
  VariantClear(&back);
  VariantClear(&in);

  // One dimension is one row; typed arrays take their elements' type.
  SAFEARRAY *line = SafeArrayCreateVector(VT_R8, 1, 3);
  VARIANT oneRow = var(VT_ARRAY | VT_R8, line);
  ASSERT_EQ(variantToAny(oneRow, out), S_OK);
  ASSERT_TRUE(out >>= rows);
  EXPECT_EQ(rows.getLength(), 1);
  EXPECT_EQ(rows[0].getLength(), 3);
  EXPECT_EQ(rows[0][2], Any(0.0));
  VARIANT byRef = var(VT_ARRAY | VT_R8 | VT_BYREF, &line);
  EXPECT_EQ(variantToAny(byRef, out), S_OK);
  VariantClear(&oneRow);

  // What no cell takes.
  SAFEARRAY *cube = newArray(VT_VARIANT, {{2, 0}, {2, 0}, {2, 0}});
  SAFEARRAY *objects = SafeArrayCreateVector(VT_DISPATCH, 0, 1);
  SAFEARRAY *nested = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  LONG first = 0;
  VARIANT inner = var(VT_ARRAY | VT_R8, SafeArrayCreateVector(VT_R8, 0, 1));
  SafeArrayPutElement(nested, &first, &inner);
  VariantClear(&inner);
  SAFEARRAY *empty = SafeArrayCreateVector(VT_VARIANT, 0, 0);
  SAFEARRAY *decimals = SafeArrayCreateVector(VT_DECIMAL, 0, 1);
  for (SAFEARRAY *bad : {cube, objects, nested, empty, decimals}) {
    VARTYPE vt = VT_VARIANT;
    SafeArrayGetVartype(bad, &vt);
    VARIANT v = var(VARTYPE(VT_ARRAY | vt), bad);
    Any kept(sal_Int32(7));
    EXPECT_EQ(variantToAny(v, kept), DISP_E_TYPEMISMATCH) << "array of vt " << vt;
    EXPECT_EQ(kept, Any(sal_Int32(7)));
    VariantClear(&v);
  }
  // Only rows of values go back; a ragged or empty block has no VARIANT.
  css::uno::Sequence<css::uno::Sequence<Any>> ragged(2);
  ragged.getArray()[0].realloc(2);
  ragged.getArray()[1].realloc(1);
  VARIANT none = var(VT_EMPTY);
  EXPECT_EQ(anyToVariant(Any(ragged), none), DISP_E_BADVARTYPE);
  EXPECT_EQ(anyToVariant(Any(css::uno::Sequence<css::uno::Sequence<Any>>()), none),
            DISP_E_BADVARTYPE);
  EXPECT_EQ(V_VT(&none), VT_EMPTY);
}

// The emulated Panes collection answers without an office: the dispatch layer's own work.
class CalcDispatchTest : public ::testing::Test {
protected:
  ~CalcDispatchTest() override { panes_->Release(); }

  HRESULT invoke(DISPID dispid, WORD flags, std::vector<VARIANT> args,
                 std::vector<DISPID> named = {}) {
    DISPPARAMS params = {args.data(), named.data(), UINT(args.size()), UINT(named.size())};
    VariantClear(&result_);
    std::memset(&error_, 0, sizeof error_);
    argError_ = 77;
    return panes_->Invoke(dispid, IID_NULL, 0, flags, &params, &result_, &error_, &argError_);
  }
  static VARIANT i4(LONG value) {
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
  }
  void TearDown() override {
    VariantClear(&result_);
    SysFreeString(error_.bstrSource);
    SysFreeString(error_.bstrDescription);
  }

  IDispatch *panes_ = newDispatch({Kind::Panes, nullptr, nullptr});
  VARIANT result_{};
  EXCEPINFO error_{};
  UINT argError_ = 0;
};

TEST_F(CalcDispatchTest, NamesAreLookedUpWithoutRegardToCase) {
  std::u16string count = u"cOUNT", item = u"Item", param = u"Index", unknown = u"Nope";
  LPOLESTR names[] = {count.data(), item.data(), param.data(), unknown.data()};
  DISPID ids[2] = {};
  EXPECT_EQ(panes_->GetIDsOfNames(IID_NULL, names, 1, 0, ids), S_OK);
  EXPECT_EQ(ids[0], 0x76);
  EXPECT_EQ(panes_->GetIDsOfNames(IID_NULL, names + 1, 2, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 0xAA) << "the member is still named";
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  EXPECT_EQ(panes_->GetIDsOfNames(IID_NULL, names + 3, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(panes_->GetIDsOfNames(IID_IDispatch, names, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(CalcDispatchTest, InvokeMapsArgumentsResultsAndFaults) {
  ASSERT_EQ(invoke(0x76, DISPATCH_PROPERTYGET, {}), S_OK);
  EXPECT_EQ(V_VT(&result_), VT_I4);
  EXPECT_EQ(V_I4(&result_), 1);

  struct Row {
    const char *what;
    std::vector<VARIANT> args;
    std::vector<DISPID> named;
    HRESULT hr;
    SCODE scode;
    UINT argError;
  } rows[] = {
      {"positional index out of range", {i4(2)}, {}, DISP_E_EXCEPTION, DISP_E_BADINDEX, 77},
      {"named index 0 is the first parameter", {i4(2)}, {0}, DISP_E_EXCEPTION, DISP_E_BADINDEX, 77},
      {"unknown parameter", {i4(1)}, {5}, DISP_E_PARAMNOTFOUND, 0, 0},
      {"too many arguments", {i4(1), i4(1)}, {}, DISP_E_BADPARAMCOUNT, 0, 77},
      {"an argument that cannot cross", {i4(0)}, {}, DISP_E_BADVARTYPE, 0, 0},
      {"an array, which only cell values take",
       {i4(0)},
       {},
       DISP_E_EXCEPTION,
       DISP_E_TYPEMISMATCH,
       77},
  };
  V_VT(&rows[4].args[0]) = VT_RECORD;
  SAFEARRAY *array = SafeArrayCreateVector(VT_I4, 0, 2);
  V_VT(&rows[5].args[0]) = VT_ARRAY | VT_I4;
  V_ARRAY(&rows[5].args[0]) = array;
  for (auto &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(invoke(0xAA, DISPATCH_METHOD | DISPATCH_PROPERTYGET, row.args, row.named), row.hr);
    EXPECT_EQ(argError_, row.argError);
    if (row.hr != DISP_E_EXCEPTION)
      continue;
    EXPECT_EQ(error_.scode, row.scode);
    EXPECT_EQ(std::u16string(error_.bstrSource), kErrorSource);
    EXPECT_NE(std::u16string(error_.bstrDescription).find(u"Panes.Item"), std::u16string::npos);
    SysFreeString(error_.bstrSource);
    SysFreeString(error_.bstrDescription);
    error_.bstrSource = error_.bstrDescription = nullptr;
  }

  SafeArrayDestroy(array);

  VARIANT value = i4(3);
  DISPID putId = DISPID_PROPERTYPUT;
  EXPECT_EQ(invoke(0x76, DISPATCH_PROPERTYPUT, {value}, {putId}), DISP_E_MEMBERNOTFOUND)
      << "Count cannot be written";
  EXPECT_EQ(invoke(0x12345, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
}

} // namespace
} // namespace vlx::calc
