// VariantChangeType cases: source type and value as text, target type, and the expected value as
// text or the error's name. The POSIX personality's test and the Windows check (tests/windows/)
// read the same table.
#pragma once

#include <velmora/win32.h>
#include <vlx/formats/variant_text.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace vlx::test {

struct VariantCase {
  VARTYPE from;
  const char *value; // source value as text; ignored for VT_EMPTY and VT_NULL
  VARTYPE to;
  const char *expected; // rendered by renderVariant, or an error's name
  USHORT flags = 0;
  LCID lcid = 0;
};

// Windows declares IDispatch with a public destructor; objects die through Release there too.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// The IUnknown and type-information part of a test's IDispatch; its count makes leaks and
// releases of a reference never held visible.
class TestDispatch : public IDispatch {
public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *out = static_cast<IDispatch *>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++refs); }
  ULONG STDMETHODCALLTYPE Release() override {
    if (refs <= 0)
      ++overReleases;
    return ULONG(--refs);
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
    return E_NOTIMPL;
  }
  long refs = 1;
  int overReleases = 0;

protected:
  ~TestDispatch() = default;
};

// A dispatch object whose value property answers one string; VT_DISPATCH sources use it.
class ValueObject final : public TestDispatch {
public:
  explicit ValueObject(const char *text) : text_(text) {}
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS *params,
                                   VARIANT *result, EXCEPINFO *, UINT *) override {
    ++invokes;
    if (dispid != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET) || params->cArgs != 0)
      return DISP_E_MEMBERNOTFOUND;
    if (result != nullptr) {
      std::u16string wide(text_.begin(), text_.end());
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString(reinterpret_cast<const OLECHAR *>(wide.c_str()));
    }
    return S_OK;
  }
  int invokes = 0;

private:
  std::string text_;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

inline const std::vector<VariantCase> &variantCases() {
  static const std::vector<VariantCase> cases = {
      // Integers round half to even; out of range is an overflow.
      {VT_R8, "2.5", VT_I4, "2"},
      {VT_R8, "3.5", VT_I4, "4"},
      {VT_R8, "-0.5", VT_UI1, "0"},
      {VT_R8, "-0.6", VT_UI1, "DISP_E_OVERFLOW"},
      {VT_R8, "255.5", VT_UI1, "DISP_E_OVERFLOW"},
      {VT_R8, "2147483647.5", VT_I4, "DISP_E_OVERFLOW"},
      {VT_R8, "-2147483648.5", VT_I4, "-2147483648"},
      {VT_R8, "1e20", VT_I8, "DISP_E_OVERFLOW"},
      {VT_I4, "70000", VT_I2, "DISP_E_OVERFLOW"},
      {VT_I4, "-1", VT_UI1, "DISP_E_OVERFLOW"},
      {VT_I4, "16777217", VT_R4, "16777216"},
      {VT_R8, "1e39", VT_R4, "DISP_E_OVERFLOW"},
      {VT_CY, "2.5", VT_I4, "2"},
      {VT_CY, "1.2345", VT_R8, "1.2345"},
      {VT_R8, "1.23455", VT_CY, "1.2346"},
      {VT_R8, "1e15", VT_CY, "DISP_E_OVERFLOW"},
      {VT_I8, "922337203685477", VT_CY, "922337203685477"},
      {VT_I8, "922337203685478", VT_CY, "DISP_E_OVERFLOW"},
      {VT_DATE, "2.5", VT_I4, "2"},
      {VT_R8, "3e6", VT_DATE, "DISP_E_OVERFLOW"},
      // Booleans are -1 and 0.
      {VT_BOOL, "-1", VT_I4, "-1"},
      {VT_BOOL, "-1", VT_UI1, "255"},
      {VT_BOOL, "-1", VT_BSTR, "\"-1\""},
      {VT_BOOL, "-1", VT_BSTR, "\"True\"", VARIANT_ALPHABOOL},
      {VT_BOOL, "-1", VT_BSTR, "\"True\"", VARIANT_LOCALBOOL},
      {VT_I4, "5", VT_BOOL, "-1"},
      {VT_BSTR, "True", VT_BOOL, "-1"},
      {VT_BSTR, " TRUE ", VT_BOOL, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "#TRUE#", VT_BOOL, "-1"},
      {VT_BSTR, "yes", VT_BOOL, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "1", VT_BOOL, "-1"},
      {VT_BSTR, "0.0", VT_BOOL, "0"},
      {VT_BSTR, "True", VT_I4, "DISP_E_TYPEMISMATCH"},
      // Text to numbers.
      {VT_BSTR, "42", VT_I4, "42"},
      {VT_BSTR, "5.5", VT_I4, "6"},
      {VT_BSTR, "1,0,0", VT_I4, "100"},
      {VT_BSTR, "1.5E+2", VT_R8, "150"},
      {VT_BSTR, "&H10", VT_I4, "16"},
      {VT_BSTR, "&HFFFFFFFF", VT_I4, "-1"},
      {VT_BSTR, "&O17", VT_I4, "15"},
      {VT_BSTR, "&17", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "0x10", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "12abc", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "2147483648", VT_I4, "DISP_E_OVERFLOW"},
      {VT_BSTR, "7-", VT_I4, "-7"},
      {VT_BSTR, "(7)", VT_I4, "-7"},
      {VT_BSTR, "$7", VT_I4, "7"},
      {VT_BSTR, "- 7", VT_I4, "-7"},
      {VT_BSTR, "--7", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, ".5", VT_R8, "0.5"},
      {VT_BSTR, ".", VT_R8, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "1e308", VT_R8, "1e+308"},
      {VT_BSTR, "1e309", VT_R8, "DISP_E_OVERFLOW"},
      {VT_BSTR, "1e-400", VT_R8, "0"},
      {VT_BSTR, "1e", VT_R8, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "123456789012345678901234567890", VT_R8, "1.2345678901234568e+29"},
      {VT_BSTR, "-0.4", VT_UI1, "0"},
      {VT_BSTR, "9223372036854775807", VT_I8, "9223372036854775807"},
      {VT_BSTR, "9223372036854775808", VT_I8, "DISP_E_OVERFLOW"},
      // Numbers to text.
      {VT_I4, "-42", VT_BSTR, "\"-42\""},
      {VT_R8, "1.5", VT_BSTR, "\"1.5\""},
      {VT_R8, "1e15", VT_BSTR, "\"1E+15\""},
      {VT_R8, "123456789012345", VT_BSTR, "\"123456789012345\""},
      {VT_R8, "1234567890123456", VT_BSTR, "\"1.23456789012346E+15\""},
      {VT_R8, "0.333333333333333333", VT_BSTR, "\"0.333333333333333\""},
      {VT_R8, "0.00001", VT_BSTR, "\"1E-05\""},
      {VT_R8, "-0", VT_BSTR, "\"0\""},
      {VT_R8, "2.5e-308", VT_BSTR, "\"2.5E-308\""},
      {VT_R4, "0.1", VT_BSTR, "\"0.1\""},
      {VT_R4, "16777216", VT_BSTR, "\"1.677722E+07\""},
      {VT_CY, "-0.0001", VT_BSTR, "\"-0.0001\""},
      {VT_DATE, "0", VT_BSTR, "\"12:00:00 AM\""},
      {VT_DATE, "1.5", VT_BSTR, "\"12/31/1899 12:00:00 PM\""},
      {VT_DATE, "36526", VT_BSTR, "\"1/1/2000\""},
      {VT_DATE, "-1.5", VT_BSTR, "\"12/29/1899 12:00:00 PM\""},
      {VT_DATE, "0.0000115", VT_BSTR, "\"12:00:01 AM\""},
      // Text to dates.
      {VT_BSTR, "1/1/2000", VT_DATE, "36526"},
      {VT_BSTR, "2000-01-01", VT_DATE, "36526"},
      {VT_BSTR, "1/1/2000 18:30:15", VT_DATE, "36526.771006944444"},
      {VT_BSTR, "12:00 PM", VT_DATE, "0.5"},
      {VT_BSTR, "13/1/2000", VT_DATE, "36538"},
      {VT_BSTR, "2/30/2000", VT_DATE, "DISP_E_TYPEMISMATCH"},
      {VT_BSTR, "36526", VT_DATE, "DISP_E_TYPEMISMATCH"},
      // Empty and null.
      {VT_EMPTY, "", VT_I4, "0"},
      {VT_EMPTY, "", VT_BSTR, "\"\""},
      {VT_EMPTY, "", VT_ERROR, "DISP_E_TYPEMISMATCH"},
      {VT_EMPTY, "", VT_NULL, "(null)"},
      {VT_NULL, "", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_NULL, "", VT_EMPTY, "DISP_E_TYPEMISMATCH"},
      {VT_NULL, "", VT_NULL, "(null)"},
      {VT_I4, "5", VT_EMPTY, "(empty)"},
      // Error codes.
      {VT_ERROR, "0x80020004", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_I4, "5", VT_ERROR, "DISP_E_TYPEMISMATCH"},
      // Interfaces: a value through the object's value property.
      {VT_DISPATCH, "7", VT_I4, "7"},
      {VT_DISPATCH, "7", VT_I4, "DISP_E_TYPEMISMATCH", VARIANT_NOVALUEPROP},
      {VT_DISPATCH, "x", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_DISPATCH, "null", VT_I4, "DISP_E_BADVARTYPE"},
      {VT_DISPATCH, "7", VT_UNKNOWN, "(object)"},
      {VT_DISPATCH, "null", VT_UNKNOWN, "(nothing)"},
      {VT_I4, "5", VT_DISPATCH, "DISP_E_TYPEMISMATCH"},
      // Same type; bad types.
      {VT_BSTR, "same", VT_BSTR, "\"same\""},
      {VT_I4, "5", VARTYPE(VT_I4 | VT_BYREF), "DISP_E_TYPEMISMATCH"},
      {VT_I4, "5", VT_VARIANT, "DISP_E_TYPEMISMATCH"},
      {VT_I4, "5", VARTYPE(0x7F), "DISP_E_BADVARTYPE"},
      // Locales: the United States rules for 0, the defaults, the invariant locale and 0x409.
      {VT_BSTR, "1,234.5", VT_R8, "1234.5", 0, LOCALE_USER_DEFAULT},
      {VT_BSTR, "1,234.5", VT_R8, "1234.5", 0, LOCALE_SYSTEM_DEFAULT},
      {VT_BSTR, "1,234.5", VT_R8, "1234.5", 0, LOCALE_INVARIANT},
      {VT_BSTR, "1,234.5", VT_R8, "1234.5", 0, 0x0409},
      {VT_BSTR, "1.234,5", VT_R8, "1234.5", 0, 0x0407},
      {VT_R8, "1234.5", VT_BSTR, "\"1234,5\"", 0, 0x0407},
      {VT_BSTR, "1.5", VT_R8, "DISP_E_TYPEMISMATCH", 0, 0x040C},
      {VT_BOOL, "-1", VT_BSTR, "\"True\"", VARIANT_LOCALBOOL, 0x0407},
      // Signed and unsigned of one size keep their bits; of other sizes, their value.
      {VT_I1, "-1", VT_UI1, "255"},
      {VT_UI1, "255", VT_I1, "-1"},
      {VT_UI2, "65535", VT_I2, "-1"},
      {VT_I4, "-1", VT_UI4, "4294967295"},
      {VT_UI4, "4294967295", VT_I4, "-1"},
      {VT_I1, "-1", VT_UI2, "DISP_E_OVERFLOW"},
      {VT_I2, "-1", VT_UI1, "DISP_E_OVERFLOW"},
      // 64-bit integers.
      {VT_UI8, "18446744073709551615", VT_R8, "18446744073709551616"},
      {VT_UI8, "18446744073709551615", VT_BSTR, "\"18446744073709551615\""},
      {VT_BSTR, "18446744073709551615", VT_UI8, "18446744073709551615"},
      {VT_BSTR, "18446744073709551616", VT_UI8, "DISP_E_OVERFLOW"},
      {VT_R8, "-0.5", VT_UI8, "0"},
      {VT_R8, "-1", VT_UI8, "DISP_E_OVERFLOW"},
      {VT_BOOL, "-1", VT_UI8, "18446744073709551615"},
      {VT_UI8, "922337203685477", VT_CY, "922337203685477"},
      {VT_CY, "1.5", VT_UI8, "2"},
      {VT_I8, "1", VT_UI4, "1"},
      // Decimals: exact digits, 28 places, 96 bits.
      {VT_I4, "-7", VT_DECIMAL, "-7"},
      {VT_UI8, "18446744073709551615", VT_DECIMAL, "18446744073709551615"},
      {VT_R8, "0.1", VT_DECIMAL, "0.1"},
      {VT_R8, "1.5e-30", VT_DECIMAL, "0"},
      {VT_R8, "123456789.123456789", VT_DECIMAL, "123456789.123457"},
      {VT_R4, "0.3", VT_DECIMAL, "0.3"},
      {VT_R8, "1e29", VT_DECIMAL, "DISP_E_OVERFLOW"},
      {VT_CY, "1.5", VT_DECIMAL, "1.5000"},
      {VT_BOOL, "-1", VT_DECIMAL, "-1"},
      {VT_DECIMAL, "2.5", VT_I4, "2"},
      {VT_DECIMAL, "3.5", VT_I4, "4"},
      {VT_DECIMAL, "-2.5000000000000000000000000001", VT_I4, "-3"},
      {VT_DECIMAL, "1.23456", VT_CY, "1.2346"},
      {VT_DECIMAL, "1.5", VT_R8, "1.5"},
      {VT_DECIMAL, "0.0", VT_BOOL, "0"},
      {VT_DECIMAL, "-1.50", VT_BSTR, "\"-1.5\""},
      {VT_DECIMAL, "0.0009", VT_BSTR, "\"0,0009\"", 0, 0x0407},
      {VT_DECIMAL, "79228162514264337593543950335", VT_BSTR, "\"79228162514264337593543950335\""},
      {VT_DECIMAL, "79228162514264337593543950335", VT_I8, "DISP_E_OVERFLOW"},
      {VT_DECIMAL, "bad", VT_I4, "E_INVALIDARG"},
      {VT_BSTR, "1.25", VT_DECIMAL, "1.25"},
      {VT_BSTR, "-0.000000000000000000000000000051", VT_DECIMAL, "-0.0000000000000000000000000001"},
      {VT_BSTR, "79228162514264337593543950336", VT_DECIMAL, "DISP_E_OVERFLOW"},
      {VT_BSTR, "1e3", VT_DECIMAL, "1000"},
      // Interfaces: IUnknown has no value property; errors, records and reserved types.
      {VT_UNKNOWN, "7", VT_I4, "DISP_E_TYPEMISMATCH"},
      {VT_ERROR, "0x80020004", VT_EMPTY, "DISP_E_TYPEMISMATCH"},
      {VT_ERROR, "0x80020004", VT_NULL, "DISP_E_TYPEMISMATCH"},
      {VT_I4, "1", VT_RECORD, "DISP_E_TYPEMISMATCH"},
      {VT_I4, "1", VT_VOID, "DISP_E_BADVARTYPE"},
      {VT_I4, "1", VT_INT_PTR, "DISP_E_BADVARTYPE"},
      {VT_I4, "1", VT_LPWSTR, "DISP_E_BADVARTYPE"},
      {VT_I4, "1", VARTYPE(64), "DISP_E_BADVARTYPE"},
      {VT_I4, "1", VARTYPE(15), "DISP_E_BADVARTYPE"}, // reserved, though below VT_UINT
      // Dates keep their time whatever the flags.
      {VT_DATE, "36526.5", VT_BSTR, "\"1/1/2000 12:00:00 PM\"", VARIANT_USE_NLS},
      {VT_BSTR, "1/1/2000 12:00:00 PM", VT_DATE, "36526.5", VARIANT_USE_NLS},
      {VT_DATE, "-1.25", VT_BSTR, "\"12/29/1899 6:00:00 AM\""},
      {VT_DATE, "-657434", VT_BSTR, "\"1/1/100\""},
      {VT_DATE, "2958465.99999", VT_BSTR, "\"12/31/9999 11:59:59 PM\""},
  };
  return cases;
}

inline const char *variantErrorName(HRESULT hr) {
  switch (hr) {
  case DISP_E_OVERFLOW:
    return "DISP_E_OVERFLOW";
  case DISP_E_TYPEMISMATCH:
    return "DISP_E_TYPEMISMATCH";
  case DISP_E_BADVARTYPE:
    return "DISP_E_BADVARTYPE";
  case E_INVALIDARG:
    return "E_INVALIDARG";
  case DISP_E_DIVBYZERO:
    return "DISP_E_DIVBYZERO";
  default:
    return "other";
  }
}

// "-12.50" as a DECIMAL of scale 2, read digit by digit; "bad" is one with scale 29.
inline DECIMAL decimalOf(const char *text) {
  DECIMAL d = {};
  if (std::string(text) == "bad") {
    d.scale = 29;
    return d;
  }
  bool fraction = false;
  uint32_t limb[3] = {}; // low to high
  for (const char *p = text; *p; ++p) {
    if (*p == '-') {
      d.sign = 0x80;
    } else if (*p == '.') {
      fraction = true;
    } else {
      uint64_t carry = uint64_t(*p - '0');
      for (uint32_t &l : limb) {
        uint64_t v = uint64_t(l) * 10 + carry;
        l = uint32_t(v);
        carry = v >> 32;
      }
      d.scale = BYTE(d.scale + (fraction ? 1 : 0));
    }
  }
  d.Lo32 = limb[0];
  d.Mid32 = limb[1];
  d.Hi32 = limb[2];
  return d;
}

using cli::decimalText;
using cli::shortestDouble;

// The tool's rendering, text in quotes.
inline std::string renderVariant(const VARIANT &v) { return cli::variantText(v, true); }

// The test's own reading of a value: never through VariantChangeType, which is under test.
inline void makeSource(VARIANT &v, VARTYPE type, const char *text,
                       std::vector<ValueObject *> &objects) {
  VariantInit(&v);
  v.vt = type;
  switch (type) {
  case VT_I2:
    v.iVal = SHORT(std::strtol(text, nullptr, 10));
    break;
  case VT_I1:
    v.cVal = CHAR(std::strtol(text, nullptr, 10));
    break;
  case VT_UI2:
    v.uiVal = USHORT(std::strtoul(text, nullptr, 10));
    break;
  case VT_UI4:
    v.ulVal = ULONG(std::strtoul(text, nullptr, 10));
    break;
  case VT_UI8:
    v.ullVal = std::strtoull(text, nullptr, 10);
    break;
  case VT_DECIMAL:
    v.decVal = decimalOf(text);
    v.vt = VT_DECIMAL;
    break;
  case VT_I4:
  case VT_ERROR:
    v.lVal = LONG(std::strtoll(text, nullptr, 0));
    break;
  case VT_UI1:
    v.bVal = BYTE(std::strtol(text, nullptr, 10));
    break;
  case VT_I8:
    v.llVal = std::strtoll(text, nullptr, 10);
    break;
  case VT_R4:
    v.fltVal = std::strtof(text, nullptr);
    break;
  case VT_R8:
  case VT_DATE:
    v.dblVal = std::strtod(text, nullptr);
    break;
  case VT_CY:
    v.cyVal.int64 = std::llround(std::strtod(text, nullptr) * 10000);
    break;
  case VT_BOOL:
    v.boolVal = std::strtol(text, nullptr, 10) ? VARIANT_TRUE : VARIANT_FALSE;
    break;
  case VT_BSTR: {
    std::u16string wide;
    for (const char *p = text; *p; ++p)
      wide += char16_t(static_cast<unsigned char>(*p));
    v.bstrVal =
        SysAllocStringLen(reinterpret_cast<const OLECHAR *>(wide.c_str()), UINT(wide.size()));
    break;
  }
  case VT_DISPATCH:
  case VT_UNKNOWN:
    if (std::string(text) == "null") {
      v.pdispVal = nullptr;
    } else {
      objects.push_back(new ValueObject(text));
      v.pdispVal = objects.back();
    }
    break;
  default:
    break;
  }
}

// What VariantChangeTypeEx gives for one case, rendered as the table writes it.
inline std::string convertCase(const VariantCase &c) {
  std::vector<ValueObject *> objects;
  VARIANT source, result;
  makeSource(source, c.from, c.value, objects);
  VariantInit(&result);
  HRESULT hr = VariantChangeTypeEx(&result, &source, c.lcid, c.flags, c.to);
  std::string text = SUCCEEDED(hr) ? renderVariant(result) : variantErrorName(hr);
  if (SUCCEEDED(hr) && result.vt != c.to)
    text += " (as type " + std::to_string(result.vt) + ")";
  VariantClear(&result);
  VariantClear(&source);
  for (ValueObject *object : objects)
    delete object;
  return text;
}

} // namespace vlx::test
