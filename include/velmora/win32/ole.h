// OLE base types: result codes, GUIDs and class identifiers, 16-bit OLE text, task memory.
#pragma once

#include <velmora/win32/base.h>

#include <cstring>

typedef WCHAR OLECHAR;
typedef OLECHAR *LPOLESTR;
typedef const OLECHAR *LPCOLESTR;
// OLE text literals, written the same way on both systems (L"..." on Windows).
#define OLESTR(str) u##str
typedef LONG SCODE;

// The Windows field layout: a 32-bit first field on LP64 too.
typedef struct _GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
} GUID, *LPGUID;
typedef GUID CLSID, *LPCLSID;
typedef GUID IID, *LPIID;
typedef const GUID &REFGUID;
typedef const CLSID &REFCLSID;
typedef const IID &REFIID;
static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#define IsEqualIID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_NULL 0
#define FACILITY_DISPATCH 2
#define FACILITY_ITF 4
#define FACILITY_WIN32 7
#define MAKE_HRESULT(sev, fac, code)                                                               \
  static_cast<HRESULT>((static_cast<uint32_t>(sev) << 31) | (static_cast<uint32_t>(fac) << 16) |   \
                       static_cast<uint32_t>(code))
#define MAKE_SCODE(sev, fac, code) static_cast<SCODE>(MAKE_HRESULT(sev, fac, code))
#define HRESULT_CODE(hr) ((hr)&0xFFFF)
#define SCODE_CODE(sc) ((sc)&0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1FFF)
#define SCODE_FACILITY(sc) (((sc) >> 16) & 0x1FFF)
#define HRESULT_SEVERITY(hr) (((hr) >> 31) & 0x1)
#define HRESULT_FROM_WIN32(x)                                                                      \
  (static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x)                                          \
                                : static_cast<HRESULT>((static_cast<uint32_t>(x) & 0x0000FFFF) |   \
                                                       (FACILITY_WIN32 << 16) | 0x80000000))

#define VLX_HR(x) static_cast<HRESULT>(static_cast<uint32_t>(x))
#define S_OK static_cast<HRESULT>(0)
#define S_FALSE static_cast<HRESULT>(1)
#define E_NOTIMPL VLX_HR(0x80004001)
#define E_NOINTERFACE VLX_HR(0x80004002)
#define E_POINTER VLX_HR(0x80004003)
#define E_ABORT VLX_HR(0x80004004)
#define E_FAIL VLX_HR(0x80004005)
#define E_UNEXPECTED VLX_HR(0x8000FFFF)
#define E_ACCESSDENIED VLX_HR(0x80070005)
#define E_HANDLE VLX_HR(0x80070006)
#define E_OUTOFMEMORY VLX_HR(0x8007000E)
#define E_INVALIDARG VLX_HR(0x80070057)
#define CLASS_E_NOAGGREGATION VLX_HR(0x80040110)
#define CLASS_E_CLASSNOTAVAILABLE VLX_HR(0x80040111)
#define REGDB_E_READREGDB VLX_HR(0x80040150)
#define REGDB_E_WRITEREGDB VLX_HR(0x80040151)
#define REGDB_E_KEYMISSING VLX_HR(0x80040152)
#define REGDB_E_INVALIDVALUE VLX_HR(0x80040153)
#define REGDB_E_CLASSNOTREG VLX_HR(0x80040154)
#define REGDB_E_IIDNOTREG VLX_HR(0x80040155)
#define CO_E_NOTINITIALIZED VLX_HR(0x800401F0)
#define CO_E_ALREADYINITIALIZED VLX_HR(0x800401F1)
#define CO_E_CLASSSTRING VLX_HR(0x800401F3)
#define CO_E_APPNOTFOUND VLX_HR(0x800401F5)
#define CO_E_DLLNOTFOUND VLX_HR(0x800401F8)
#define CO_E_ERRORINDLL VLX_HR(0x800401F9)
#define CO_E_OBJNOTREG VLX_HR(0x800401FB)
#define CO_E_SERVER_EXEC_FAILURE VLX_HR(0x80080005)

extern "C" {
// Braced, upper-case text of a class identifier; the caller frees it with CoTaskMemFree.
VLX_WIN32_API HRESULT WINAPI StringFromCLSID(REFCLSID rclsid, LPOLESTR *lplpsz);
VLX_WIN32_API int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// The strict braced form only; anything else is CO_E_CLASSSTRING.
VLX_WIN32_API HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
// The default value of HKEY_CLASSES_ROOT\<ProgID>\CLSID.
VLX_WIN32_API HRESULT WINAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
VLX_WIN32_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
VLX_WIN32_API LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
VLX_WIN32_API void WINAPI CoTaskMemFree(LPVOID pv);
}
