// SAFEARRAY cases: each runs a few calls and writes what it saw as one line, which must match the
// expected line. The POSIX personality's test and the Windows check (tests/windows/) run the same
// cases, there against the system's oleaut32.
#pragma once

#include "support/variant_cases.h"

#include <velmora/win32.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace vlx::test {

struct SafeArrayCase {
  const char *name;
  std::string (*run)();
  const char *expected;
};

inline std::string resultName(HRESULT hr) {
  switch (hr) {
  case S_OK:
    return "S_OK";
  case E_INVALIDARG:
    return "E_INVALIDARG";
  case E_POINTER:
    return "E_POINTER";
  case E_UNEXPECTED:
    return "E_UNEXPECTED";
  case DISP_E_BADINDEX:
    return "DISP_E_BADINDEX";
  case DISP_E_ARRAYISLOCKED:
    return "DISP_E_ARRAYISLOCKED";
  case DISP_E_TYPEMISMATCH:
    return "DISP_E_TYPEMISMATCH";
  case DISP_E_BADVARTYPE:
    return "DISP_E_BADVARTYPE";
  default: {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(uint32_t(hr)));
    return text;
  }
  }
}

// "key=value " pieces; the case's line is their concatenation without the last space.
class Line {
public:
  Line &operator()(const char *key, HRESULT hr) { return add(key, resultName(hr)); }
  Line &number(const char *key, long long value) { return add(key, std::to_string(value)); }
  Line &hex(const char *key, unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return add(key, text);
  }
  Line &text(const char *key, BSTR value) {
    std::string plain;
    for (UINT i = 0; i < SysStringLen(value); ++i)
      plain += char(value[i]);
    return add(key, value == nullptr ? "(null)" : plain);
  }
  Line &add(const char *key, const std::string &value) {
    if (!text_.empty())
      text_ += ' ';
    text_ += std::string(key) + "=" + value;
    return *this;
  }
  operator std::string() const { return text_; }

private:
  std::string text_;
};

inline BSTR makeText(const char *ascii) {
  std::vector<OLECHAR> wide(ascii, ascii + std::strlen(ascii) + 1);
  return SysAllocString(wide.data());
}

// A test object whose count shows every AddRef and Release an array makes.
inline ValueObject *makeObject() { return new ValueObject("object"); }

inline const std::vector<SafeArrayCase> &safeArrayCases() {
  static const std::vector<SafeArrayCase> cases = {
      {"bounds: natural order in, last dimension stored first",
       [] {
         SAFEARRAYBOUND bounds[2] = {{42, 1}, {2, 23}};
         SAFEARRAY *sa = SafeArrayCreate(VT_I4, 2, bounds);
         LONG lb1 = 0, ub1 = 0, lb2 = 0, ub2 = 0, any;
         Line line;
         line.number("dims", SafeArrayGetDim(sa)).number("size", SafeArrayGetElemsize(sa));
         line("lb1", SafeArrayGetLBound(sa, 1, &lb1)).number("is", lb1);
         line("ub1", SafeArrayGetUBound(sa, 1, &ub1)).number("is", ub1);
         line("lb2", SafeArrayGetLBound(sa, 2, &lb2)).number("is", lb2);
         line("ub2", SafeArrayGetUBound(sa, 2, &ub2)).number("is", ub2);
         line("dim0", SafeArrayGetLBound(sa, 0, &any))("dim3", SafeArrayGetUBound(sa, 3, &any));
         line("noOut", SafeArrayGetLBound(sa, 1, nullptr));
         line.number("stored0", sa->rgsabound[0].lLbound)
             .number("stored1", sa->rgsabound[1].lLbound);
         line("destroy", SafeArrayDestroy(sa));
         return std::string(line);
       },
       "dims=2 size=4 lb1=S_OK is=1 ub1=S_OK is=42 lb2=S_OK is=23 ub2=S_OK is=24 "
       "dim0=DISP_E_BADINDEX dim3=DISP_E_BADINDEX noOut=E_INVALIDARG stored0=23 stored1=1 "
       "destroy=S_OK"},

      {"element order: the first index varies fastest",
       [] {
         SAFEARRAYBOUND bounds[2] = {{42, 1}, {2, 23}};
         SAFEARRAY *sa = SafeArrayCreate(VT_I4, 2, bounds);
         void *base = nullptr;
         Line line;
         line("access", SafeArrayAccessData(sa, &base));
         auto offset = [&](LONG first, LONG second) {
           LONG at[2] = {first, second};
           void *p = nullptr;
           HRESULT hr = SafeArrayPtrOfIndex(sa, at, &p);
           line("ptr", hr);
           if (SUCCEEDED(hr))
             line.number("offset", static_cast<char *>(p) - static_cast<char *>(base));
         };
         offset(3, 23);
         offset(3, 24);
         offset(20, 23);
         offset(1, 25);
         offset(0, 23);
         line("unaccess", SafeArrayUnaccessData(sa))("destroy", SafeArrayDestroy(sa));
         return std::string(line);
       },
       "access=S_OK ptr=S_OK offset=8 ptr=S_OK offset=176 ptr=S_OK offset=76 "
       "ptr=DISP_E_BADINDEX ptr=DISP_E_BADINDEX unaccess=S_OK destroy=S_OK"},

      {"element types: sizes, features and the stored type",
       [] {
         const VARTYPE types[] = {VT_I1,      VT_UI1,     VT_I2,      VT_UI2, VT_BOOL,    VT_I4,
                                  VT_UI4,     VT_R4,      VT_ERROR,   VT_INT, VT_UINT,    VT_R8,
                                  VT_CY,      VT_DATE,    VT_I8,      VT_UI8, VT_DECIMAL, VT_BSTR,
                                  VT_VARIANT, VT_UNKNOWN, VT_DISPATCH};
         Line line;
         for (VARTYPE vt : types) {
           SAFEARRAYBOUND bound = {1, 0};
           SAFEARRAY *sa = SafeArrayCreate(vt, 1, &bound);
           VARTYPE stored = 0;
           std::string seen = std::to_string(SafeArrayGetElemsize(sa));
           char features[8];
           std::snprintf(features, sizeof features, "%X", sa->fFeatures);
           seen += std::string(",") + features;
           if (SUCCEEDED(SafeArrayGetVartype(sa, &stored)))
             seen += "," + std::to_string(stored);
           line.add(std::to_string(vt).c_str(), seen);
           SafeArrayDestroy(sa);
         }
         return std::string(line);
       },
       sizeof(void *) == 8
           ? "16=1,80,16 17=1,80,17 2=2,80,2 18=2,80,18 11=2,80,11 3=4,80,3 19=4,80,19 "
             "4=4,80,4 10=4,80,10 22=4,80,22 23=4,80,23 5=8,80,5 6=8,80,6 7=8,80,7 20=8,80,20 "
             "21=8,80,21 14=16,80,14 8=8,180,8 12=24,880,12 13=8,240,13 9=8,440,9"
           : "16=1,80,16 17=1,80,17 2=2,80,2 18=2,80,18 11=2,80,11 3=4,80,3 19=4,80,19 "
             "4=4,80,4 10=4,80,10 22=4,80,22 23=4,80,23 5=8,80,5 6=8,80,6 7=8,80,7 20=8,80,20 "
             "21=8,80,21 14=16,80,14 8=4,180,8 12=16,880,12 13=4,240,13 9=4,440,9"},

      {"creation refused: no element type, no dimension, no bounds",
       [] {
         SAFEARRAYBOUND bound = {1, 0};
         Line line;
         for (VARTYPE vt : {VARTYPE(VT_EMPTY), VARTYPE(VT_NULL), VARTYPE(15), VARTYPE(VT_VOID),
                            VARTYPE(VT_RECORD), VARTYPE(VT_ARRAY | VT_I4), VARTYPE(0xFFFF)}) {
           SAFEARRAY *sa = SafeArrayCreate(vt, 1, &bound);
           line.number(std::to_string(vt).c_str(), sa != nullptr);
           SafeArrayDestroy(sa);
         }
         line.number("noDims", SafeArrayCreate(VT_I4, 0, &bound) != nullptr);
         line.number("noBounds", SafeArrayCreate(VT_I4, 1, nullptr) != nullptr);
         SAFEARRAY *none = nullptr;
         line("descriptor0", SafeArrayAllocDescriptor(0, &none));
         line("descriptor65536", SafeArrayAllocDescriptor(65536, &none));
         line("descriptorNoOut", SafeArrayAllocDescriptor(1, nullptr));
         return std::string(line);
       },
       "0=0 1=0 15=0 24=0 36=0 8195=0 65535=0 noDims=0 noBounds=0 descriptor0=E_INVALIDARG "
       "descriptor65536=E_INVALIDARG descriptorNoOut=E_POINTER"},

      {"layout: the element type and interface identifier before the descriptor",
       [] {
         SAFEARRAYBOUND bound = {10, 0};
         SAFEARRAY *bytes = SafeArrayCreate(VT_UI1, 1, &bound);
         SAFEARRAY *objects = SafeArrayCreate(VT_UNKNOWN, 1, &bound);
         SAFEARRAY *dispatch = SafeArrayCreate(VT_DISPATCH, 1, &bound);
         DWORD stored;
         std::memcpy(&stored, reinterpret_cast<char *>(bytes) - 4, 4);
         Line line;
         line.number("vt", stored);
         line.number("unknown", IsEqualIID(reinterpret_cast<GUID *>(objects)[-1], IID_IUnknown));
         line.number("dispatch", IsEqualIID(reinterpret_cast<GUID *>(dispatch)[-1], IID_IDispatch));
         SAFEARRAY *vector = SafeArrayCreateVector(VT_I4, 0, 3);
         line.number("vectorData",
                     static_cast<char *>(vector->pvData) - reinterpret_cast<char *>(vector) ==
                         sizeof(SAFEARRAY));
         line.hex("vectorFeatures", vector->fFeatures);
         SafeArrayDestroy(vector);
         SafeArrayDestroy(bytes);
         SafeArrayDestroy(objects);
         SafeArrayDestroy(dispatch);
         return std::string(line);
       },
       "vt=17 unknown=1 dispatch=1 vectorData=1 vectorFeatures=0x2080"},

      {"empty dimension: upper bound below the lower, data still there",
       [] {
         SAFEARRAYBOUND bound = {0, 42};
         SAFEARRAY *sa = SafeArrayCreate(VT_I4, 1, &bound);
         LONG lb = 0, ub = 0, at = 42;
         void *data = nullptr, *p = nullptr;
         Line line;
         line("lb", SafeArrayGetLBound(sa, 1, &lb)).number("is", lb);
         line("ub", SafeArrayGetUBound(sa, 1, &ub)).number("is", ub);
         line("access", SafeArrayAccessData(sa, &data)).number("data", data != nullptr);
         line("unaccess", SafeArrayUnaccessData(sa));
         line("ptr", SafeArrayPtrOfIndex(sa, &at, &p));
         SAFEARRAYBOUND two = {2, 42};
         line("grow", SafeArrayRedim(sa, &two));
         line("ptr", SafeArrayPtrOfIndex(sa, &at, &p));
         line("destroy", SafeArrayDestroy(sa));
         return std::string(line);
       },
       "lb=S_OK is=42 ub=S_OK is=41 access=S_OK data=1 unaccess=S_OK ptr=DISP_E_BADINDEX "
       "grow=S_OK ptr=S_OK destroy=S_OK"},

      {"locks: counted to 65535, and a locked array is not destroyed",
       [] {
         SAFEARRAY *sa = SafeArrayCreateVector(VT_UI1, 0, 100);
         Line line;
         line("unlockUnlocked", SafeArrayUnlock(sa));
         HRESULT hr;
         long count = 0;
         while ((hr = SafeArrayLock(sa)) == S_OK)
           ++count;
         line.number("locks", count)("overLock", hr).number("cLocks", sa->cLocks);
         while (SafeArrayUnlock(sa) == S_OK)
           --count;
         line.number("left", count);
         void *data = nullptr;
         line("access", SafeArrayAccessData(sa, &data));
         SAFEARRAYBOUND bound = {5, 0};
         line("destroy", SafeArrayDestroy(sa))("destroyData", SafeArrayDestroyData(sa));
         line("destroyDescriptor", SafeArrayDestroyDescriptor(sa))("redim",
                                                                   SafeArrayRedim(sa, &bound));
         line("unaccess", SafeArrayUnaccessData(sa))("destroy", SafeArrayDestroy(sa));
         line("lockNull", SafeArrayLock(nullptr))("unlockNull", SafeArrayUnlock(nullptr));
         line("accessNull", SafeArrayAccessData(nullptr, &data));
         line("destroyNull", SafeArrayDestroy(nullptr));
         return std::string(line);
       },
       "unlockUnlocked=E_UNEXPECTED locks=65535 overLock=E_UNEXPECTED cLocks=65535 left=0 "
       "access=S_OK destroy=DISP_E_ARRAYISLOCKED destroyData=DISP_E_ARRAYISLOCKED "
       "destroyDescriptor=DISP_E_ARRAYISLOCKED redim=DISP_E_ARRAYISLOCKED unaccess=S_OK "
       "destroy=S_OK lockNull=E_INVALIDARG unlockNull=E_INVALIDARG accessNull=E_INVALIDARG "
       "destroyNull=S_OK"},

      {"get and put: every index checked in four dimensions",
       [] {
         SAFEARRAYBOUND bounds[4];
         for (int d = 0; d < 4; ++d)
           bounds[d] = {ULONG(d * 3 + 1), LONG(d * 2 + 1)};
         SAFEARRAY *sa = SafeArrayCreate(VT_INT, 4, bounds);
         Line line;
         int value = 7;
         LONG at[4];
         const auto refuses = [&] {
           return SafeArrayPutElement(sa, at, &value) == DISP_E_BADINDEX &&
                  SafeArrayGetElement(sa, at, &value) == DISP_E_BADINDEX;
         };
         // Every index in order, the first varying slowest.
         const auto everyIndex = [&](auto visit) {
           for (at[0] = 1; at[0] < 2; ++at[0])
             for (at[1] = 3; at[1] < 7; ++at[1])
               for (at[2] = 5; at[2] < 12; ++at[2])
                 for (at[3] = 7; at[3] < 17; ++at[3])
                   visit();
         };
         std::string refused;
         for (int d = 0; d < 4; ++d) {
           for (int k = 0; k < 4; ++k)
             at[k] = bounds[k].lLbound;
           at[d] = bounds[d].lLbound - 1;
           refused += refuses() ? "<" : "?";
           at[d] = bounds[d].lLbound + LONG(bounds[d].cElements);
           refused += refuses() ? ">" : "?";
         }
         line.add("refused", refused);
         int next = 0;
         bool put = true, same = true;
         everyIndex([&] {
           int v = next++;
           put = put && SafeArrayPutElement(sa, at, &v) == S_OK;
         });
         next = 0;
         everyIndex([&] {
           int v = -1;
           same = same && SafeArrayGetElement(sa, at, &v) == S_OK && v == next++;
         });
         line.number("put", put)
             .number("same", same)
             .number("last", static_cast<int *>(sa->pvData)[279]);
         at[0] = 1, at[1] = 3, at[2] = 5, at[3] = 7;
         line("nullArray", SafeArrayPutElement(nullptr, at, &value));
         line("nullIndex", SafeArrayGetElement(sa, nullptr, &value));
         line("nullOut", SafeArrayGetElement(sa, at, nullptr));
         line("destroy", SafeArrayDestroy(sa));
         return std::string(line);
       },
       "refused=<><><><> put=1 same=1 last=279 nullArray=E_INVALIDARG nullIndex=E_INVALIDARG "
       "nullOut=E_INVALIDARG destroy=S_OK"},

      {"text elements: put and get copy; a null put is stored as empty text",
       [] {
         SAFEARRAY *sa = SafeArrayCreateVector(VT_BSTR, 1, 2);
         BSTR text = makeText("Test");
         LONG at = 1;
         Line line;
         line("put", SafeArrayPutElement(sa, &at, text));
         BSTR stored = static_cast<BSTR *>(sa->pvData)[0];
         line.number("copied", stored != nullptr && stored != text).text("stored", stored);
         BSTR got = nullptr;
         line("get", SafeArrayGetElement(sa, &at, &got))
             .number("own", got != stored)
             .text("got", got);
         SysFreeString(got);
         line("putNull", SafeArrayPutElement(sa, &at, nullptr));
         BSTR empty = static_cast<BSTR *>(sa->pvData)[0];
         line.number("storedEmpty", empty != nullptr && SysStringLen(empty) == 0);
         got = text;
         at = 2;
         line("getNull", SafeArrayGetElement(sa, &at, &got)).number("gotNull", got == nullptr);
         SAFEARRAY *copy = nullptr;
         line("copy", SafeArrayCopy(sa, &copy));
         line.number("copiedNull", static_cast<BSTR *>(copy->pvData)[1] == nullptr);
         SafeArrayDestroy(copy);
         line("putLast", SafeArrayPutElement(sa, &at, text));
         line("copy", SafeArrayCopy(sa, &copy));
         BSTR copied = static_cast<BSTR *>(copy->pvData)[1];
         line.number("deep", copied != static_cast<BSTR *>(sa->pvData)[1]).text("copied", copied);
         line("destroyCopy", SafeArrayDestroy(copy))("destroy", SafeArrayDestroy(sa));
         SysFreeString(text);
         return std::string(line);
       },
       "put=S_OK copied=1 stored=Test get=S_OK own=1 got=Test putNull=S_OK storedEmpty=1 "
       "getNull=S_OK gotNull=1 copy=S_OK copiedNull=1 putLast=S_OK copy=S_OK deep=1 copied=Test "
       "destroyCopy=S_OK destroy=S_OK"},

      {"interface elements: each holder keeps a reference",
       [] {
         ValueObject *object = makeObject();
         SAFEARRAYBOUND bound = {2, 1};
         SAFEARRAY *sa = SafeArrayCreate(VT_DISPATCH, 1, &bound);
         LONG at = 2;
         Line line;
         line("put", SafeArrayPutElement(sa, &at, static_cast<IDispatch *>(object)));
         line.number("refs", object->refs);
         IDispatch *got = nullptr;
         line("get", SafeArrayGetElement(sa, &at, &got)).number("same", got == object);
         line.number("refs", object->refs);
         got->Release();
         SAFEARRAY *copy = nullptr;
         line("copy", SafeArrayCopy(sa, &copy)).number("refs", object->refs);
         line("destroyCopy", SafeArrayDestroy(copy)).number("refs", object->refs);
         SAFEARRAYBOUND shorter = {1, 1};
         line("shrink", SafeArrayRedim(sa, &shorter)).number("refs", object->refs);
         at = 1;
         line("put", SafeArrayPutElement(sa, &at, static_cast<IDispatch *>(object)));
         line("putNull", SafeArrayPutElement(sa, &at, nullptr)).number("refs", object->refs);
         line("put", SafeArrayPutElement(sa, &at, static_cast<IDispatch *>(object)));
         line("destroy", SafeArrayDestroy(sa)).number("refs", object->refs);
         line.number("overReleases", object->overReleases);
         object->Release();
         delete object;
         return std::string(line);
       },
       "put=S_OK refs=2 get=S_OK same=1 refs=3 copy=S_OK refs=3 destroyCopy=S_OK refs=2 "
       "shrink=S_OK refs=1 put=S_OK putNull=S_OK refs=1 put=S_OK destroy=S_OK refs=1 "
       "overReleases=0"},

      {"VARIANT elements: copied in, copied out into storage never read",
       [] {
         ValueObject *object = makeObject();
         SAFEARRAY *sa = SafeArrayCreateVector(VT_VARIANT, 0, 2);
         LONG at = 0;
         VARIANT value;
         value.vt = VT_I4;
         value.lVal = 0x42424242;
         Line line;
         line("putI4", SafeArrayPutElement(sa, &at, &value));
         VARIANT got;
         got.vt = 0xDEAD; // not cleared: the caller's storage is taken as empty
         line("get", SafeArrayGetElement(sa, &at, &got))
             .number("vt", got.vt)
             .number("value", got.lVal);
         value.vt = VT_BSTR;
         value.bstrVal = makeText("abc");
         line("putText", SafeArrayPutElement(sa, &at, &value));
         line.number("ownText", static_cast<VARIANT *>(sa->pvData)[0].bstrVal != value.bstrVal);
         VariantClear(&value);
         value.vt = VT_DISPATCH;
         value.pdispVal = object;
         at = 1;
         line("putObject", SafeArrayPutElement(sa, &at, &value)).number("refs", object->refs);
         SAFEARRAY *copy = nullptr;
         line("copy", SafeArrayCopy(sa, &copy)).number("refs", object->refs);
         line.text("copiedText", static_cast<VARIANT *>(copy->pvData)[0].bstrVal);
         line("destroyCopy", SafeArrayDestroy(copy))("destroy", SafeArrayDestroy(sa));
         line.number("refs", object->refs);
         object->Release();
         delete object;
         return std::string(line);
       },
       "putI4=S_OK get=S_OK vt=3 value=1111638594 putText=S_OK ownText=1 putObject=S_OK refs=2 "
       "copy=S_OK refs=3 copiedText=abc destroyCopy=S_OK destroy=S_OK refs=1"},

      {"redim: the right-most dimension, data kept by position",
       [] {
         SAFEARRAYBOUND bounds[2] = {{4, 1}, {2, 1}};
         SAFEARRAY *sa = SafeArrayCreate(VT_I2, 2, bounds);
         LONG at[2] = {4, 2};
         SHORT value = 0x55AA, got = 0;
         Line line;
         line("put", SafeArrayPutElement(sa, at, &value));
         SAFEARRAYBOUND longer = {10, 1};
         line("grow", SafeArrayRedim(sa, &longer));
         line("get", SafeArrayGetElement(sa, at, &got)).number("kept", got == value);
         LONG ub = 0;
         SafeArrayGetUBound(sa, 2, &ub);
         line.number("ub2", ub);
         at[1] = 10;
         got = 1;
         line("getNew", SafeArrayGetElement(sa, at, &got)).number("zero", got);
         SAFEARRAYBOUND renumbered = {10, 0};
         line("renumber", SafeArrayRedim(sa, &renumbered));
         at[1] = 1;
         line("get", SafeArrayGetElement(sa, at, &got)).number("moved", got == value);
         SAFEARRAYBOUND one = {1, 0};
         line("shrink", SafeArrayRedim(sa, &one));
         line("get", SafeArrayGetElement(sa, at, &got));
         line("redimNull", SafeArrayRedim(sa, nullptr));
         sa->fFeatures |= FADF_FIXEDSIZE;
         line("fixed", SafeArrayRedim(sa, &longer));
         sa->fFeatures &= ~FADF_FIXEDSIZE;
         line("destroy", SafeArrayDestroy(sa));
         SAFEARRAY *vector = SafeArrayCreateVector(VT_I4, 0, 2);
         LONG first = 0, five = 5;
         SafeArrayPutElement(vector, &first, &five);
         LONG number = 0;
         line("vectorGrow", SafeArrayRedim(vector, &longer));
         first = 1;
         line("get", SafeArrayGetElement(vector, &first, &number)).number("value", number);
         line("destroy", SafeArrayDestroy(vector));
         return std::string(line);
       },
       "put=S_OK grow=S_OK get=S_OK kept=1 ub2=10 getNew=S_OK zero=0 renumber=S_OK get=S_OK "
       "moved=1 "
       "shrink=S_OK get=DISP_E_BADINDEX redimNull=E_INVALIDARG fixed=DISP_E_ARRAYISLOCKED "
       "destroy=S_OK vectorGrow=S_OK get=S_OK value=5 destroy=S_OK"},

      {"copy: features the copy does not own are dropped",
       [] {
         Line line;
         SAFEARRAY *copy = reinterpret_cast<SAFEARRAY *>(1);
         line("copyNull", SafeArrayCopy(nullptr, &copy)).number("null", copy == nullptr);
         SAFEARRAY *vector = SafeArrayCreateVector(VT_UI1, 0, 2);
         line("copyVector", SafeArrayCopy(vector, &copy)).hex("features", copy->fFeatures);
         VARTYPE vt = 0;
         line("vartype", SafeArrayGetVartype(copy, &vt)).number("vt", vt);
         SafeArrayDestroy(copy);
         SafeArrayDestroy(vector);
         SAFEARRAY *bare = nullptr;
         SafeArrayAllocDescriptor(1, &bare);
         line.hex("bareFeatures", bare->fFeatures)("bareVartype", SafeArrayGetVartype(bare, &vt));
         copy = reinterpret_cast<SAFEARRAY *>(1);
         line("copyNoSize", SafeArrayCopy(bare, &copy)).number("null", copy == nullptr);
         bare->cbElements = 16;
         bare->fFeatures = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED | FADF_FIXEDSIZE;
         line("copyBare", SafeArrayCopy(bare, &copy)).hex("features", copy->fFeatures);
         SafeArrayDestroy(copy);
         line("copyNoOut", SafeArrayCopy(bare, nullptr));
         bare->fFeatures = 0;
         bare->rgsabound[0] = {0, 1};
         line("allocData", SafeArrayAllocData(bare))("destroy", SafeArrayDestroy(bare));
         return std::string(line);
       },
       "copyNull=S_OK null=1 copyVector=S_OK features=0x0080 vartype=S_OK vt=17 "
       "bareFeatures=0x0000 bareVartype=E_INVALIDARG copyNoSize=E_INVALIDARG null=1 copyBare=S_OK "
       "features=0x0000 copyNoOut=E_INVALIDARG allocData=S_OK destroy=S_OK"},

      {"destroy data: static storage is cleared and kept",
       [] {
         SAFEARRAYBOUND bound = {10, 0};
         SAFEARRAY *sa = SafeArrayCreate(VT_INT, 1, &bound);
         LONG at = 1;
         int value = 12345;
         SafeArrayPutElement(sa, &at, &value);
         sa->fFeatures |= FADF_STATIC;
         void *data = sa->pvData;
         Line line;
         line("destroyData", SafeArrayDestroyData(sa)).number("kept", sa->pvData == data);
         line("get", SafeArrayGetElement(sa, &at, &value)).number("value", value);
         sa->fFeatures &= ~FADF_STATIC;
         line("destroyData", SafeArrayDestroyData(sa)).number("freed", sa->pvData == nullptr);
         line("destroy", SafeArrayDestroy(sa))("destroyDataNull", SafeArrayDestroyData(nullptr));
         line("destroyDescriptorNull", SafeArrayDestroyDescriptor(nullptr));
         return std::string(line);
       },
       "destroyData=S_OK kept=1 get=S_OK value=0 destroyData=S_OK freed=1 destroy=S_OK "
       "destroyDataNull=E_INVALIDARG destroyDescriptorNull=S_OK"},

      {"VariantClear and VariantCopy: arrays owned, references not",
       [] {
         ValueObject *object = makeObject();
         SAFEARRAY *sa = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
         LONG at = 0;
         SafeArrayPutElement(sa, &at, static_cast<IUnknown *>(object));
         VARIANT v, copy;
         v.vt = VT_ARRAY | VT_UNKNOWN;
         v.parray = sa;
         VariantInit(&copy);
         Line line;
         line("copy", VariantCopy(&copy, &v)).number("deep", copy.parray != sa);
         line.number("refs", object->refs);
         line("clearCopy", VariantClear(&copy)).number("vt", copy.vt).number("refs", object->refs);
         VARIANT ref;
         ref.vt = VT_ARRAY | VT_UNKNOWN | VT_BYREF;
         ref.pparray = &sa;
         line("copyRef", VariantCopy(&copy, &ref)).number("shallow", copy.pparray == &sa);
         line("clearRef", VariantClear(&copy)).number("refs", object->refs);
         SafeArrayLock(sa);
         line("clearLocked", VariantClear(&v)).number("vt", v.vt);
         SafeArrayUnlock(sa);
         v.vt = VT_ARRAY | VT_UNKNOWN;
         v.parray = sa;
         line("clear", VariantClear(&v)).number("vt", v.vt).number("refs", object->refs);
         for (VARTYPE bad :
              {VARTYPE(VT_SAFEARRAY), VARTYPE(VT_ARRAY | VT_EMPTY), VARTYPE(VT_ARRAY | VT_NULL),
               VARTYPE(VT_ARRAY | VT_INT_PTR), VARTYPE(VT_VECTOR | VT_UI1)}) {
           v.vt = bad;
           std::string key = "clear" + std::to_string(bad);
           line(key.c_str(), VariantClear(&v));
         }
         object->Release();
         delete object;
         return std::string(line);
       },
       "copy=S_OK deep=1 refs=3 clearCopy=S_OK vt=0 refs=2 copyRef=S_OK shallow=1 clearRef=S_OK "
       "refs=2 clearLocked=DISP_E_ARRAYISLOCKED vt=0 clear=S_OK vt=0 refs=1 "
       "clear27=DISP_E_BADVARTYPE clear8192=DISP_E_BADVARTYPE clear8193=DISP_E_BADVARTYPE "
       "clear8229=DISP_E_BADVARTYPE clear4113=DISP_E_BADVARTYPE"},

      {"VariantChangeType: arrays keep their type; bytes and text convert",
       [] {
         const char hello[] = "Hello World";
         SAFEARRAY *bytes = SafeArrayCreateVector(VT_UI1, 0, sizeof hello);
         std::memcpy(bytes->pvData, hello, sizeof hello);
         VARIANT v, out;
         v.vt = VT_ARRAY | VT_UI1;
         v.parray = bytes;
         VariantInit(&out);
         Line line;
         line("toText", VariantChangeTypeEx(&out, &v, 0, 0, VT_BSTR)).number("vt", out.vt);
         line.number("bytes", SysStringByteLen(out.bstrVal));
         line.number("same", std::memcmp(out.bstrVal, hello, sizeof hello) == 0);
         VARIANT text = out;
         VariantInit(&out);
         line("toBytes", VariantChangeTypeEx(&out, &text, 0, 0, VT_ARRAY | VT_UI1));
         line.number("vt", out.vt).hex("features", out.parray->fFeatures);
         line.number("count", out.parray->rgsabound[0].cElements);
         VariantClear(&out);
         line("toSame", VariantChangeTypeEx(&out, &v, 0, 0, VT_ARRAY | VT_UI1));
         line.number("copied", out.parray != bytes);
         VariantClear(&out);
         VARIANT ref;
         ref.vt = VT_ARRAY | VT_UI1 | VT_BYREF;
         ref.pparray = &bytes;
         line("refToText", VariantChangeTypeEx(&out, &ref, 0, 0, VT_BSTR));
         VariantClear(&out);
         line("toI1Array", VariantChangeTypeEx(&out, &v, 0, 0, VT_ARRAY | VT_I1));
         line("toVariantArray", VariantChangeTypeEx(&out, &v, 0, 0, VT_ARRAY | VT_VARIANT));
         line("toI4", VariantChangeTypeEx(&out, &v, 0, 0, VT_I4));
         line("toEmpty", VariantChangeTypeEx(&out, &v, 0, 0, VT_EMPTY));
         line("toNull", VariantChangeTypeEx(&out, &v, 0, 0, VT_NULL));
         line("textToI1Array", VariantChangeTypeEx(&out, &text, 0, 0, VT_ARRAY | VT_I1));
         VARIANT number;
         number.vt = VT_I4;
         number.lVal = 5;
         line("i4ToArray", VariantChangeTypeEx(&out, &number, 0, 0, VT_ARRAY | VT_I4));
         SAFEARRAY *longs = SafeArrayCreateVector(VT_I4, 0, 1);
         VARIANT other;
         other.vt = VT_ARRAY | VT_I4;
         other.parray = longs;
         line("i4ArrayToText", VariantChangeTypeEx(&out, &other, 0, 0, VT_BSTR));
         SAFEARRAYBOUND square[2] = {{2, 0}, {2, 0}};
         SAFEARRAY *table = SafeArrayCreate(VT_UI1, 2, square);
         other.vt = VT_ARRAY | VT_UI1;
         other.parray = table;
         line("tableToText", VariantChangeTypeEx(&out, &other, 0, 0, VT_BSTR));
         v.vt = VT_VECTOR | VT_UI1;
         line("vector", VariantChangeTypeEx(&out, &v, 0, 0, VT_BSTR));
         v.vt = VT_ARRAY | VT_UI1;
         line("inPlace", VariantChangeTypeEx(&v, &v, 0, 0, VT_BSTR)).number("vt", v.vt);
         VariantClear(&v);
         VariantClear(&text);
         SafeArrayDestroy(longs);
         SafeArrayDestroy(table);
         return std::string(line);
       },
       "toText=S_OK vt=8 bytes=12 same=1 toBytes=S_OK vt=8209 features=0x0080 count=12 "
       "toSame=S_OK copied=1 refToText=S_OK toI1Array=DISP_E_TYPEMISMATCH "
       "toVariantArray=DISP_E_TYPEMISMATCH toI4=DISP_E_TYPEMISMATCH toEmpty=DISP_E_TYPEMISMATCH "
       "toNull=DISP_E_TYPEMISMATCH textToI1Array=DISP_E_TYPEMISMATCH "
       "i4ToArray=DISP_E_TYPEMISMATCH i4ArrayToText=DISP_E_TYPEMISMATCH "
       "tableToText=E_INVALIDARG vector=DISP_E_BADVARTYPE inPlace=S_OK vt=8"},
  };
  return cases;
}

} // namespace vlx::test
