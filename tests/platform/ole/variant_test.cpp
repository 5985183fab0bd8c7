// BSTR and VARIANT: allocation, clearing and copying, and the conversion table.
#include "support/variant_cases.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <cstring>

using namespace vlx::test;

namespace {

TEST(OleBstr, KeepsLengthPrefixAndTerminator) {
  BSTR text = SysAllocStringLen(u"ab\0cd", 5);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 5u);
  EXPECT_EQ(SysStringByteLen(text), 10u);
  EXPECT_EQ(std::memcmp(text, u"ab\0cd", 12), 0) << "text and its terminator";
  DWORD prefix;
  std::memcpy(&prefix, reinterpret_cast<char *>(text) - 4, 4);
  EXPECT_EQ(prefix, 10u) << "the byte count sits just before the text";
  SysFreeString(text);

  // An odd byte count still ends with a whole 16-bit zero.
  BSTR bytes = SysAllocStringByteLen("abc", 3);
  EXPECT_EQ(SysStringByteLen(bytes), 3u);
  EXPECT_EQ(SysStringLen(bytes), 1u);
  EXPECT_EQ(std::memcmp(bytes, "abc\0\0", 5), 0);
  SysFreeString(bytes);

  BSTR empty = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(SysStringLen(empty), 3u) << "room for the caller to fill";
  EXPECT_EQ(empty[3], 0);
  SysFreeString(empty);
}

TEST(OleBstr, NullIsTheEmptyText) {
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  SysFreeString(nullptr);
  EXPECT_EQ(SysAllocStringLen(nullptr, 0xFFFFFFF0u), nullptr) << "too long is refused, not wrapped";
}

TEST(OleVariant, ClearAndCopyOwnStringsAndReferences) {
  ValueObject object("1");
  VARIANT v, copy;
  VariantInit(&v);
  VariantInit(&copy);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = &object;
  object.AddRef();
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_EQ(object.refs, 3);
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(V_VT(&v), VT_EMPTY);
  EXPECT_EQ(object.refs, 2);

  // Copying over a VARIANT clears what it held first.
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(u"text");
  ASSERT_EQ(VariantCopy(&copy, &v), S_OK);
  EXPECT_EQ(object.refs, 1);
  EXPECT_NE(V_BSTR(&copy), V_BSTR(&v)) << "a deep copy";
  EXPECT_EQ(std::u16string(V_BSTR(&copy)), u"text");
  VariantClear(&copy);
  VariantClear(&v);

  // By reference: nothing is owned, nothing is released.
  LONG value = 5;
  V_VT(&v) = VT_I4 | VT_BYREF;
  V_I4REF(&v) = &value;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(value, 5);

  V_VT(&v) = 0x7F;
  EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
  EXPECT_EQ(VariantCopy(&copy, &v), DISP_E_BADVARTYPE);
}

TEST(OleVariant, ConversionTable) {
  for (const VariantCase &c : variantCases()) {
    SCOPED_TRACE(std::string(c.value) + " from type " + std::to_string(c.from) + " to type " +
                 std::to_string(c.to) + " flags " + std::to_string(c.flags) + " locale " +
                 std::to_string(c.lcid));
    EXPECT_EQ(convertCase(c), c.expected);
  }
}

TEST(OleVariant, ConvertsInPlaceAndThroughReferences) {
  VARIANT v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(u"12.5");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_R8), S_OK) << "the string is freed, not leaked";
  EXPECT_EQ(V_R8(&v), 12.5);

  // A failed conversion leaves the destination as it was.
  VARIANT source, dest;
  V_VT(&source) = VT_BSTR;
  V_BSTR(&source) = SysAllocString(u"x");
  V_VT(&dest) = VT_I4;
  V_I4(&dest) = 9;
  EXPECT_EQ(VariantChangeType(&dest, &source, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(V_VT(&dest), VT_I4);
  EXPECT_EQ(V_I4(&dest), 9);
  VariantClear(&source);

  SHORT shortValue = -3;
  V_VT(&source) = VT_I2 | VT_BYREF;
  V_I2REF(&source) = &shortValue;
  ASSERT_EQ(VariantChangeType(&dest, &source, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(V_BSTR(&dest)), u"-3");
  VariantClear(&dest);

  VARIANT inner;
  V_VT(&inner) = VT_R8;
  V_R8(&inner) = 2.5;
  V_VT(&source) = VT_VARIANT | VT_BYREF;
  V_VARIANTREF(&source) = &inner;
  ASSERT_EQ(VariantChangeType(&dest, &source, 0, VT_I4), S_OK);
  EXPECT_EQ(V_I4(&dest), 2);
}

TEST(OleVariant, ObjectValueIsReadOnceAndReleased) {
  ValueObject object("41");
  VARIANT source, dest;
  VariantInit(&dest);
  V_VT(&source) = VT_DISPATCH;
  V_DISPATCH(&source) = &object;
  ASSERT_EQ(VariantChangeType(&dest, &source, 0, VT_I2), S_OK);
  EXPECT_EQ(V_I2(&dest), 41);
  EXPECT_EQ(object.invokes, 1);
  EXPECT_EQ(object.refs, 1) << "the reference taken for the call is given back";
  ASSERT_EQ(VariantChangeType(&dest, &source, 0, VT_UNKNOWN), S_OK);
  EXPECT_EQ(object.refs, 2) << "the interface result holds its own reference";
  VariantClear(&dest);
  EXPECT_EQ(object.refs, 1);
}

} // namespace

namespace {

// The narrow code page here is UTF-8; sizes and refusals follow the Windows calls.
TEST(OleText, NarrowAndWideConvertWithWindowsSizes) {
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "x\xc3\xa9", -1, nullptr, 0), 3) << "the zero counts";
  WCHAR wide[4];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "x\xc3\xa9", -1, wide, 4), 3);
  EXPECT_EQ(std::u16string(wide), u"x\u00e9");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "x\xc3\xa9", -1, wide, 2), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));

  // Malformed input becomes U+FFFD, unless the caller asks for the refusal.
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xff", 2, wide, 4), 2);
  EXPECT_EQ(wide[1], 0xFFFD);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xff", 2, wide, 4), 0);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));

  char narrow[8];
  EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"x\u00e9", 2, narrow, 8, nullptr, nullptr), 3)
      << "no zero: only what was given";
  EXPECT_EQ(std::string(narrow, 3), "x\xc3\xa9");
  const WCHAR lone[] = {u'a', 0xD800, 0};
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone, -1, narrow, 8, nullptr, nullptr), 0);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "a", 1, wide, 4), 0) << "other code pages are refused";
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

} // namespace
