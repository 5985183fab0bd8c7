// SAFEARRAY: OLE Automation's self-describing arrays, laid out as Windows x64 lays them out.
#pragma once

#include <velmora/win32/oleauto.h>

#include <cstddef>

typedef struct tagSAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
} SAFEARRAYBOUND, *LPSAFEARRAYBOUND;

// rgsabound holds the bounds last dimension first: rgsabound[0] is the right-most dimension of
// the index list, the one whose elements lie furthest apart.
struct tagSAFEARRAY {
  USHORT cDims;
  USHORT fFeatures;
  ULONG cbElements;
  ULONG cLocks;
  PVOID pvData;
  SAFEARRAYBOUND rgsabound[1];
};
typedef SAFEARRAY *LPSAFEARRAY;

static_assert(sizeof(SAFEARRAYBOUND) == 8, "SAFEARRAYBOUND has Windows' size");
static_assert(sizeof(SAFEARRAY) == (sizeof(void *) == 8 ? 32 : 24) &&
                  offsetof(SAFEARRAY, pvData) == (sizeof(void *) == 8 ? 16 : 12),
              "SAFEARRAY has Windows' layout");

#define FADF_AUTO 0x0001
#define FADF_STATIC 0x0002
#define FADF_EMBEDDED 0x0004
#define FADF_FIXEDSIZE 0x0010
#define FADF_RECORD 0x0020
#define FADF_HAVEIID 0x0040
#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_UNKNOWN 0x0200
#define FADF_DISPATCH 0x0400
#define FADF_VARIANT 0x0800
#define FADF_RESERVED 0xF008
// Set by SafeArrayCreateVector: the elements share the descriptor's allocation.
#define FADF_CREATEVECTOR 0x2000

#define V_ARRAYREF(X) ((X)->pparray)

extern "C" {
VLX_WIN32_API SAFEARRAY *WINAPI SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND *rgsabound);
VLX_WIN32_API SAFEARRAY *WINAPI SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
VLX_WIN32_API HRESULT WINAPI SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY **ppsaOut);
VLX_WIN32_API HRESULT WINAPI SafeArrayAllocData(SAFEARRAY *psa);
VLX_WIN32_API HRESULT WINAPI SafeArrayDestroy(SAFEARRAY *psa);
VLX_WIN32_API HRESULT WINAPI SafeArrayDestroyData(SAFEARRAY *psa);
VLX_WIN32_API HRESULT WINAPI SafeArrayDestroyDescriptor(SAFEARRAY *psa);
VLX_WIN32_API UINT WINAPI SafeArrayGetDim(SAFEARRAY *psa);
VLX_WIN32_API UINT WINAPI SafeArrayGetElemsize(SAFEARRAY *psa);
VLX_WIN32_API HRESULT WINAPI SafeArrayGetLBound(SAFEARRAY *psa, UINT nDim, LONG *plLbound);
VLX_WIN32_API HRESULT WINAPI SafeArrayGetUBound(SAFEARRAY *psa, UINT nDim, LONG *plUbound);
VLX_WIN32_API HRESULT WINAPI SafeArrayGetVartype(SAFEARRAY *psa, VARTYPE *pvt);
VLX_WIN32_API HRESULT WINAPI SafeArrayLock(SAFEARRAY *psa);
VLX_WIN32_API HRESULT WINAPI SafeArrayUnlock(SAFEARRAY *psa);
VLX_WIN32_API HRESULT WINAPI SafeArrayAccessData(SAFEARRAY *psa, void **ppvData);
VLX_WIN32_API HRESULT WINAPI SafeArrayUnaccessData(SAFEARRAY *psa);
VLX_WIN32_API HRESULT WINAPI SafeArrayPtrOfIndex(SAFEARRAY *psa, LONG *rgIndices, void **ppvData);
// A BSTR element is passed as the BSTR itself, an interface element as the pointer itself,
// anything else by its address; what is put is copied, what is got is a copy the caller owns.
VLX_WIN32_API HRESULT WINAPI SafeArrayPutElement(SAFEARRAY *psa, LONG *rgIndices, void *pv);
VLX_WIN32_API HRESULT WINAPI SafeArrayGetElement(SAFEARRAY *psa, LONG *rgIndices, void *pv);
VLX_WIN32_API HRESULT WINAPI SafeArrayCopy(SAFEARRAY *psa, SAFEARRAY **ppsaOut);
VLX_WIN32_API HRESULT WINAPI SafeArrayRedim(SAFEARRAY *psa, SAFEARRAYBOUND *psaboundNew);
}
