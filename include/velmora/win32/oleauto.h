// OLE Automation: BSTR, VARIANT, IUnknown/IDispatch/IClassFactory and server look-up, laid out
// as Windows x64 lays them out.
#pragma once

#include <velmora/win32/base.h>
#include <velmora/win32/ole.h>

#include <string>

typedef short SHORT;
typedef unsigned short USHORT;
typedef float FLOAT;
typedef double DOUBLE;
typedef void *PVOID;

// The unions carry unnamed members, as on Windows, so that v.vt and v.lVal read as there.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#endif
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wgnu-anonymous-struct"
#pragma clang diagnostic ignored "-Wnested-anon-types"
#endif

// ---- scalar types

typedef unsigned short VARTYPE;
typedef short VARIANT_BOOL;
typedef double DATE;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef OLECHAR *BSTR;
typedef BSTR *LPBSTR;
#ifndef VLX_LCID_DEFINED
#define VLX_LCID_DEFINED
typedef DWORD LCID;
#endif

#define VARIANT_TRUE static_cast<VARIANT_BOOL>(-1)
#define VARIANT_FALSE static_cast<VARIANT_BOOL>(0)

// Currency: a 64-bit integer scaled by 10000.
typedef union tagCY {
  struct {
    ULONG Lo;
    LONG Hi;
  };
  LONGLONG int64;
} CY, *LPCY;

typedef struct tagDEC {
  USHORT wReserved;
  union {
    struct {
      BYTE scale;
      BYTE sign;
    };
    USHORT signscale;
  };
  ULONG Hi32;
  union {
    struct {
      ULONG Lo32;
      ULONG Mid32;
    };
    ULONGLONG Lo64;
  };
} DECIMAL, *LPDECIMAL;

enum VARENUM {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_VOID = 24,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_SAFEARRAY = 27,
  VT_CARRAY = 28,
  VT_USERDEFINED = 29,
  VT_LPSTR = 30,
  VT_LPWSTR = 31,
  VT_RECORD = 36,
  VT_INT_PTR = 37,
  VT_UINT_PTR = 38,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
  VT_ILLEGAL = 0xffff,
  VT_ILLEGALMASKED = 0x0fff,
  VT_TYPEMASK = 0x0fff
};

// ---- interfaces (Windows vtable order; no virtual destructor, as there)

struct IUnknown;
struct IDispatch;
struct ITypeInfo;
struct IRecordInfo;
struct tagSAFEARRAY;
typedef struct tagSAFEARRAY SAFEARRAY;

typedef struct tagVARIANT VARIANT, *LPVARIANT, VARIANTARG, *LPVARIANTARG;

struct tagVARIANT {
  union {
    struct {
      VARTYPE vt;
      WORD wReserved1;
      WORD wReserved2;
      WORD wReserved3;
      union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        CY cyVal;
        DATE date;
        BSTR bstrVal;
        IUnknown *punkVal;
        IDispatch *pdispVal;
        SAFEARRAY *parray;
        BYTE *pbVal;
        SHORT *piVal;
        LONG *plVal;
        LONGLONG *pllVal;
        FLOAT *pfltVal;
        DOUBLE *pdblVal;
        VARIANT_BOOL *pboolVal;
        SCODE *pscode;
        CY *pcyVal;
        DATE *pdate;
        BSTR *pbstrVal;
        IUnknown **ppunkVal;
        IDispatch **ppdispVal;
        SAFEARRAY **pparray;
        VARIANT *pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        DECIMAL *pdecVal;
        CHAR *pcVal;
        USHORT *puiVal;
        ULONG *pulVal;
        ULONGLONG *pullVal;
        INT *pintVal;
        UINT *puintVal;
        struct {
          PVOID pvRecord;
          IRecordInfo *pRecInfo;
        };
      };
    };
    DECIMAL decVal;
  };
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

typedef struct tagEXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  PVOID pvReserved;
  HRESULT(WINAPI *pfnDeferredFillIn)(struct tagEXCEPINFO *);
  SCODE scode;
} EXCEPINFO, *LPEXCEPINFO;

typedef struct tagDISPPARAMS {
  VARIANTARG *rgvarg;
  DISPID *rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
} DISPPARAMS;

static_assert(sizeof(VARIANT) == (sizeof(void *) == 8 ? 24 : 16), "VARIANT has Windows' size");
static_assert(sizeof(EXCEPINFO) == (sizeof(void *) == 8 ? 64 : 32), "EXCEPINFO has Windows' size");
static_assert(sizeof(DISPPARAMS) == (sizeof(void *) == 8 ? 24 : 16),
              "DISPPARAMS has Windows' size");
static_assert(sizeof(CY) == 8 && sizeof(DECIMAL) == 16, "CY and DECIMAL have Windows' sizes");

#define STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT
#define STDAPI_(type) extern "C" type

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

protected:
  // Objects are destroyed by their own Release, never through an interface pointer.
  ~IUnknown() = default;
};
typedef IUnknown *LPUNKNOWN;

struct IDispatch : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *pctinfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo **ppTInfo) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *rgszNames, UINT cNames,
                                                  LCID lcid, DISPID *rgDispId) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                                           DISPPARAMS *pDispParams, VARIANT *pVarResult,
                                           EXCEPINFO *pExcepInfo, UINT *puArgErr) = 0;

protected:
  ~IDispatch() = default;
};
typedef IDispatch *LPDISPATCH;

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *pUnkOuter, REFIID riid,
                                                   void **ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;

protected:
  ~IClassFactory() = default;
};
typedef IClassFactory *LPCLASSFACTORY;

// ---- constants

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)
#define DISPID_EVALUATE (-5)
#define DISPID_CONSTRUCTOR (-6)
#define DISPID_DESTRUCTOR (-7)
#define DISPID_COLLECT (-8)

#define DISP_E_UNKNOWNINTERFACE VLX_HR(0x80020001)
#define DISP_E_MEMBERNOTFOUND VLX_HR(0x80020003)
#define DISP_E_PARAMNOTFOUND VLX_HR(0x80020004)
#define DISP_E_TYPEMISMATCH VLX_HR(0x80020005)
#define DISP_E_UNKNOWNNAME VLX_HR(0x80020006)
#define DISP_E_NONAMEDARGS VLX_HR(0x80020007)
#define DISP_E_BADVARTYPE VLX_HR(0x80020008)
#define DISP_E_EXCEPTION VLX_HR(0x80020009)
#define DISP_E_OVERFLOW VLX_HR(0x8002000A)
#define DISP_E_BADINDEX VLX_HR(0x8002000B)
#define DISP_E_UNKNOWNLCID VLX_HR(0x8002000C)
#define DISP_E_ARRAYISLOCKED VLX_HR(0x8002000D)
#define DISP_E_BADPARAMCOUNT VLX_HR(0x8002000E)
#define DISP_E_PARAMNOTOPTIONAL VLX_HR(0x8002000F)
#define DISP_E_BADCALLEE VLX_HR(0x80020010)
#define DISP_E_NOTACOLLECTION VLX_HR(0x80020011)
#define DISP_E_DIVBYZERO VLX_HR(0x80020012)
#define DISP_E_BUFFERTOOSMALL VLX_HR(0x80020013)
#define RPC_E_CHANGED_MODE VLX_HR(0x80010106)

// VariantChangeType(Ex) flags.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_CALENDAR_HIJRI 0x08
#define VARIANT_LOCALBOOL 0x10

#ifndef LOCALE_USER_DEFAULT
#define LOCALE_NEUTRAL 0x0000
#define LOCALE_INVARIANT 0x007F
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#endif

// Class contexts, initialisation models and registration kinds.
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL                                                                                 \
  (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8
#define REGCLS_SINGLEUSE 0
#define REGCLS_MULTIPLEUSE 1
#define REGCLS_MULTI_SEPARATE 2
#define REGCLS_SUSPENDED 4
#define REGCLS_SURROGATE 8

// ---- accessors, spelled as the Windows headers spell them

#define V_VT(X) ((X)->vt)
#define V_ISBYREF(X) (V_VT(X) & VT_BYREF)
#define V_ISARRAY(X) (V_VT(X) & VT_ARRAY)
#define V_UI1(X) ((X)->bVal)
#define V_UI1REF(X) ((X)->pbVal)
#define V_I2(X) ((X)->iVal)
#define V_I2REF(X) ((X)->piVal)
#define V_I4(X) ((X)->lVal)
#define V_I4REF(X) ((X)->plVal)
#define V_I8(X) ((X)->llVal)
#define V_I8REF(X) ((X)->pllVal)
#define V_R4(X) ((X)->fltVal)
#define V_R4REF(X) ((X)->pfltVal)
#define V_R8(X) ((X)->dblVal)
#define V_R8REF(X) ((X)->pdblVal)
#define V_CY(X) ((X)->cyVal)
#define V_CYREF(X) ((X)->pcyVal)
#define V_DATE(X) ((X)->date)
#define V_DATEREF(X) ((X)->pdate)
#define V_BSTR(X) ((X)->bstrVal)
#define V_BSTRREF(X) ((X)->pbstrVal)
#define V_DISPATCH(X) ((X)->pdispVal)
#define V_DISPATCHREF(X) ((X)->ppdispVal)
#define V_ERROR(X) ((X)->scode)
#define V_ERRORREF(X) ((X)->pscode)
#define V_BOOL(X) ((X)->boolVal)
#define V_BOOLREF(X) ((X)->pboolVal)
#define V_UNKNOWN(X) ((X)->punkVal)
#define V_UNKNOWNREF(X) ((X)->ppunkVal)
#define V_VARIANTREF(X) ((X)->pvarVal)
#define V_ARRAY(X) ((X)->parray)
#define V_BYREF(X) ((X)->byref)
#define V_DECIMAL(X) ((X)->decVal)
#define V_INT(X) ((X)->intVal)
#define V_UINT(X) ((X)->uintVal)
#define V_I1(X) ((X)->cVal)
#define V_UI2(X) ((X)->uiVal)
#define V_UI4(X) ((X)->ulVal)
#define V_UI8(X) ((X)->ullVal)

// Reference counts as COM objects keep them: atomic, returning the new count.
inline LONG InterlockedIncrement(LONG volatile *addend) {
  return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile *addend) {
  return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}

// What an in-process server library exports.
typedef HRESULT(WINAPI *LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID *);
typedef HRESULT(WINAPI *LPFNCANUNLOADNOW)(void);

extern "C" {
VLX_WIN32_API extern const IID IID_NULL;
VLX_WIN32_API extern const IID IID_IUnknown;
VLX_WIN32_API extern const IID IID_IDispatch;
VLX_WIN32_API extern const IID IID_IClassFactory;
#define GUID_NULL IID_NULL
#define CLSID_NULL IID_NULL

// Length-prefixed, zero-terminated 16-bit text; a null BSTR is the empty text.
VLX_WIN32_API BSTR WINAPI SysAllocString(const OLECHAR *psz);
VLX_WIN32_API BSTR WINAPI SysAllocStringLen(const OLECHAR *strIn, UINT ui);
VLX_WIN32_API BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len);
VLX_WIN32_API void WINAPI SysFreeString(BSTR bstrString);
VLX_WIN32_API UINT WINAPI SysStringLen(BSTR pbstr);
VLX_WIN32_API UINT WINAPI SysStringByteLen(BSTR bstr);

VLX_WIN32_API void WINAPI VariantInit(VARIANTARG *pvarg);
VLX_WIN32_API HRESULT WINAPI VariantClear(VARIANTARG *pvarg);
VLX_WIN32_API HRESULT WINAPI VariantCopy(VARIANTARG *pvargDest, const VARIANTARG *pvargSrc);
VLX_WIN32_API HRESULT WINAPI VariantChangeType(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc,
                                               USHORT wFlags, VARTYPE vt);
VLX_WIN32_API HRESULT WINAPI VariantChangeTypeEx(VARIANTARG *pvargDest, const VARIANTARG *pvarSrc,
                                                 LCID lcid, USHORT wFlags, VARTYPE vt);

VLX_WIN32_API HRESULT WINAPI CoInitialize(LPVOID pvReserved);
VLX_WIN32_API HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
VLX_WIN32_API void WINAPI CoUninitialize(void);
VLX_WIN32_API HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext,
                                              LPVOID pvReserved, REFIID riid, LPVOID *ppv);
VLX_WIN32_API HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter,
                                              DWORD dwClsContext, REFIID riid, LPVOID *ppv);
VLX_WIN32_API HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk,
                                                   DWORD dwClsContext, DWORD flags,
                                                   LPDWORD lpdwRegister);
VLX_WIN32_API HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister);
// Unloads the server libraries that answer DllCanUnloadNow with S_OK.
VLX_WIN32_API void WINAPI CoFreeUnusedLibraries(void);

// Exported by an in-process server library, not by this one.
HRESULT WINAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv);
HRESULT WINAPI DllCanUnloadNow(void);
}

namespace vlx {
// Why the latest CoGetClassObject or CoCreateInstance on this thread did not load the server
// library, naming it and what is wrong with it ("" when no library was refused); taking it
// forgets it. A library is loaded only when no user but this one and root can change it: an
// absolute path (a bare name is looked for in the system's library directories only) whose
// file, links and directories belong to them, no directory writable by others unless sticky, the
// file writable by neither group nor others (else E_ACCESSDENIED), and that exports
// DllGetClassObject (else CO_E_ERRORINDLL, found without running any of its code).
VLX_API std::string takeServerLoadError();
} // namespace vlx
