// COleVariant and COleSafeArray: the types their constructors and assignments choose, ownership,
// and the faults they throw.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The status a framework call threw, or S_OK when it returned.
template <class Call> SCODE thrownBy(Call call) {
  try {
    call();
  } catch (COleException *e) {
    SCODE sc = e->m_sc;
    e->Delete();
    return sc;
  } catch (CInvalidArgException *e) {
    e->Delete();
    return E_INVALIDARG;
  }
  return S_OK;
}

std::string textOf(const VARIANT &v) {
  std::string plain;
  for (UINT i = 0; i < SysStringLen(v.bstrVal); ++i)
    plain += char(v.bstrVal[i]);
  return plain;
}

TEST(COleVariantTest, ConstructorsChooseTheFrameworksTypes) {
  struct Row {
    const char *what;
    COleVariant value;
    VARTYPE vt;
    LONGLONG bits; // the value's low bytes, as the VARIANT holds them
  };
  const LONGLONG big = LONGLONG(1) << 40;
  Row rows[] = {
      {"BYTE", COleVariant(BYTE(7)), VT_UI1, 7},
      {"short", COleVariant(short(-5)), VT_I2, 0xFFFB},
      {"short as Boolean", COleVariant(short(5), VT_BOOL), VT_BOOL, 0xFFFF},
      {"long", COleVariant(70000L), VT_I4, 70000},
      {"long as an error: the optional-argument idiom",
       COleVariant(long(DISP_E_PARAMNOTFOUND), VT_ERROR), VT_ERROR, 0x80020004},
      {"long as Boolean", COleVariant(0L, VT_BOOL), VT_BOOL, 0},
      {"LONGLONG", COleVariant(big), VT_I8, big},
      {"ULONGLONG", COleVariant(ULONGLONG(9)), VT_UI8, 9},
  };
  for (Row &row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.value.vt, row.vt);
    LONGLONG bits = 0;
    std::memcpy(&bits, &row.value.llVal,
                row.vt == VT_UI1                        ? 1
                : row.vt == VT_I2 || row.vt == VT_BOOL  ? 2
                : row.vt == VT_I4 || row.vt == VT_ERROR ? 4
                                                        : 8);
    EXPECT_EQ(bits, row.bits);
  }
  EXPECT_EQ(COleVariant(1.5f).fltVal, 1.5f);
  EXPECT_EQ(COleVariant(2.5).vt, VT_R8);

  COleVariant text("cafe");
  EXPECT_EQ(text.vt, VT_BSTR);
  EXPECT_EQ(SysStringLen(text.bstrVal), 4u) << "narrow text arrives as OLE text";
  COleVariant bytes("abc", VT_BSTRT);
  EXPECT_EQ(SysStringByteLen(bytes.bstrVal), 3u) << "VT_BSTRT keeps the narrow bytes";
  EXPECT_EQ(std::memcmp(bytes.bstrVal, "abc", 3), 0);
  CString name("Sheet1");
  EXPECT_EQ(textOf(COleVariant(name)), "Sheet1");
  EXPECT_EQ(COleVariant(static_cast<LPCTSTR>(nullptr)).bstrVal, nullptr);

  EXPECT_EQ(thrownBy([] { COleVariant(short(1), VT_R8); }), E_INVALIDARG);
  EXPECT_EQ(thrownBy([] { COleVariant("x", VT_I4); }), E_INVALIDARG);
}

TEST(COleVariantTest, AssignmentKeepsACompatibleType) {
  COleVariant flag(short(0), VT_BOOL);
  flag = 3L;
  EXPECT_EQ(flag.vt, VT_BOOL);
  EXPECT_EQ(flag.boolVal, VARIANT_TRUE);
  flag = short(0);
  EXPECT_EQ(flag.boolVal, VARIANT_FALSE);

  COleVariant error(long(E_FAIL), VT_ERROR);
  error = long(DISP_E_PARAMNOTFOUND);
  EXPECT_EQ(error.vt, VT_ERROR);
  EXPECT_EQ(error.scode, DISP_E_PARAMNOTFOUND);

  COleVariant v("text");
  v = 2.5;
  EXPECT_EQ(v.vt, VT_R8) << "a string gives way to the number";
  v = 4L;
  EXPECT_EQ(v.vt, VT_I4);
  v = LONGLONG(1) << 33;
  EXPECT_EQ(v.vt, VT_I8);
  v = "again";
  EXPECT_EQ(textOf(v), "again");
  COleVariant other(v);
  EXPECT_NE(other.bstrVal, v.bstrVal) << "a copy owns its own text";
  EXPECT_TRUE(other == v);
  other = 1.0f;
  EXPECT_FALSE(other == v);
}

TEST(COleVariantTest, ChangeAttachAndDetach) {
  COleVariant number(42L);
  number.ChangeType(VT_BSTR);
  EXPECT_EQ(textOf(number), "42");
  COleVariant word("word");
  EXPECT_EQ(thrownBy([&] { word.ChangeType(VT_I4); }), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(word.vt, VT_BSTR) << "a failed change leaves the value";
  COleVariant copy;
  copy.ChangeType(VT_R8, &number);
  EXPECT_EQ(copy.dblVal, 42.0);

  VARIANT raw;
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(OLESTR("owned"));
  COleVariant holder;
  holder.Attach(raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  EXPECT_EQ(textOf(holder), "owned");
  VARIANT out = holder.Detach();
  EXPECT_EQ(holder.vt, VT_EMPTY);
  EXPECT_EQ(out.vt, VT_BSTR);
  VariantClear(&out);
}

TEST(COleSafeArrayTest, OneDimensionFromDataAndResized) {
  const LONG data[] = {10, 20, 30};
  COleSafeArray list;
  list.CreateOneDim(VT_I4, 3, data, 1);
  EXPECT_EQ(list.vt, VT_ARRAY | VT_I4);
  EXPECT_EQ(list.m_dwDims, 1u);
  EXPECT_EQ(list.m_dwElementSize, 4u);
  EXPECT_EQ(list.GetOneDimSize(), 3u);
  long lower = 0, index = 3; // the framework's long, whatever its width
  list.GetLBound(1, &lower);
  EXPECT_EQ(lower, 1);
  LONG value = 0;
  list.GetElement(&index, &value);
  EXPECT_EQ(value, 30);
  list.ResizeOneDim(5);
  list.GetLBound(1, &lower);
  EXPECT_EQ(lower, 0) << "renumbered from 0";
  index = 2;
  list.GetElement(&index, &value);
  EXPECT_EQ(value, 30) << "elements keep their places";
  index = 5;
  EXPECT_EQ(thrownBy([&] { list.GetElement(&index, &value); }), DISP_E_BADINDEX);
}

TEST(COleSafeArrayTest, TableOfVariantsCopiedAndCompared) {
  COleSafeArray table;
  DWORD shape[2] = {2, 3};
  table.Create(VT_VARIANT, 2, shape);
  long at[2];
  for (at[0] = 0; at[0] < 2; ++at[0])
    for (at[1] = 0; at[1] < 3; ++at[1]) {
      COleVariant cell(long(at[0] * 10 + at[1]));
      table.PutElement(at, &cell);
    }
  at[0] = 1;
  at[1] = 2;
  COleVariant text("last");
  table.PutElement(at, &text);

  COleSafeArray copy(table);
  EXPECT_NE(copy.parray, table.parray);
  EXPECT_TRUE(copy == table);
  COleVariant got;
  copy.GetElement(at, &got);
  EXPECT_EQ(textOf(got), "last");
  at[0] = 0;
  at[1] = 1;
  COleVariant changed(99L);
  copy.PutElement(at, &changed);
  EXPECT_FALSE(copy == table) << "the copy is deep";

  COleVariant asVariant(table);
  EXPECT_EQ(asVariant.vt, VT_ARRAY | VT_VARIANT);
  COleSafeArray back(asVariant);
  EXPECT_TRUE(back == table);
  EXPECT_EQ(back.GetDim(), 2u);

  COleVariant scalar(1L);
  EXPECT_EQ(thrownBy([&] { COleSafeArray bad(scalar); }), E_INVALIDARG);
}

TEST(COleSafeArrayTest, LockedArrayIsNotDestroyed) {
  COleSafeArray list;
  list.CreateOneDim(VT_BSTR, 2);
  void *data = nullptr;
  list.AccessData(&data);
  EXPECT_EQ(thrownBy([&] { list.Destroy(); }), DISP_E_ARRAYISLOCKED);
  list.UnaccessData();
  EXPECT_EQ(thrownBy([&] { list.UnaccessData(); }), E_UNEXPECTED);
  list.Destroy();
  EXPECT_EQ(list.vt, VT_EMPTY);

  VARIANT raw = list.Detach();
  EXPECT_EQ(raw.vt, VT_EMPTY);
  COleSafeArray vector;
  vector.CreateOneDim(VT_UI1, 4);
  raw = vector.Detach();
  COleSafeArray owner;
  owner.Attach(raw);
  EXPECT_EQ(owner.GetOneDimSize(), 4u);
  EXPECT_EQ(raw.vt, VT_EMPTY);
}

#if !defined(_WIN32)
TEST(COleSafeArrayTest, LongIndexBeyondLongOnWindowsNamesNoElement) {
  COleSafeArray list;
  list.CreateOneDim(VT_I4, 2);
  long beyond = 0x100000000L; // 0 in its low 32 bits: must not wrap to element 0
  LONG value = 0;
  EXPECT_EQ(thrownBy([&] { list.GetElement(&beyond, &value); }), DISP_E_BADINDEX);
  LONG index = 1;
  list.GetElement(&index, &value);
  EXPECT_EQ(value, 0) << "LONG lists work as they are";
}
#endif

} // namespace
