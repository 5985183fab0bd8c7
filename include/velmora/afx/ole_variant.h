// The framework's VARIANT classes: COleVariant and COleSafeArray, and the parameter-type strings
// that wrapper members pass to COleDispatchDriver::InvokeHelper.
#pragma once

#include <velmora/afx/ole.h>
#include <velmora/afx/ole_datetime.h>
#include <velmora/afx/string.h>
#include <velmora/export.h>
#include <velmora/win32.h>

// Parameter types, one byte per argument; by value unless named P...
#define VTS_I2 "\x02"       // short
#define VTS_I4 "\x03"       // long
#define VTS_R4 "\x04"       // float
#define VTS_R8 "\x05"       // double
#define VTS_CY "\x06"       // const CY*
#define VTS_DATE "\x07"     // DATE
#define VTS_WBSTR "\x08"    // LPCOLESTR
#define VTS_DISPATCH "\x09" // IDispatch*
#define VTS_SCODE "\x0A"    // SCODE
#define VTS_BOOL "\x0B"     // BOOL
#define VTS_VARIANT "\x0C"  // const VARIANT& or VARIANT*
#define VTS_UNKNOWN "\x0D"  // IUnknown*
// The framework's text is narrow: VTS_BSTR takes an LPCSTR and sends it as a BSTR.
#define VTS_BSTR "\x0E" // LPCTSTR
#define VT_BSTRA 14
#define VT_BSTRT VT_BSTRA
#define VTS_I1 "\x10"  // signed char
#define VTS_UI1 "\x11" // BYTE
#define VTS_UI2 "\x12" // WORD
#define VTS_UI4 "\x13" // DWORD
#define VTS_I8 "\x14"  // LONGLONG
#define VTS_UI8 "\x15" // ULONGLONG

#define VTS_PI2 "\x42"       // short*
#define VTS_PI4 "\x43"       // long*
#define VTS_PR4 "\x44"       // float*
#define VTS_PR8 "\x45"       // double*
#define VTS_PCY "\x46"       // CY*
#define VTS_PDATE "\x47"     // DATE*
#define VTS_PBSTR "\x48"     // BSTR*
#define VTS_PDISPATCH "\x49" // IDispatch**
#define VTS_PSCODE "\x4A"    // SCODE*
#define VTS_PBOOL "\x4B"     // VARIANT_BOOL*
#define VTS_PVARIANT "\x4C"  // VARIANT*
#define VTS_PUNKNOWN "\x4D"  // IUnknown**
#define VTS_PI1 "\x50"       // signed char*
#define VTS_PUI1 "\x51"      // BYTE*
#define VTS_PUI2 "\x52"      // WORD*
#define VTS_PUI4 "\x53"      // DWORD*
#define VTS_PI8 "\x54"       // LONGLONG*
#define VTS_PUI8 "\x55"      // ULONGLONG*

// A member without parameters.
#define VTS_NONE nullptr

typedef const VARIANT *LPCVARIANT;
typedef const SAFEARRAY *LPCSAFEARRAY;

// Throws for a failed status: CMemoryException* for E_OUTOFMEMORY, COleException* otherwise.
VLX_API void AfxCheckError(SCODE sc);

// A VARIANT that owns its value. Failures throw CMemoryException* or COleException*.
class VLX_API COleVariant : public tagVARIANT {
public:
  COleVariant() noexcept;
  COleVariant(const VARIANT &varSrc);
  COleVariant(LPCVARIANT pSrc);
  COleVariant(const COleVariant &varSrc);
  COleVariant(LPCTSTR lpszSrc);
  // vtSrc VT_BSTR converts the text to OLE text; VT_BSTRT keeps its narrow bytes in the BSTR.
  COleVariant(LPCTSTR lpszSrc, VARTYPE vtSrc);
  COleVariant(CString &strSrc);
  COleVariant(BYTE nSrc) noexcept;
  // vtSrc VT_I2 or VT_BOOL.
  COleVariant(short nSrc, VARTYPE vtSrc = VT_I2);
  // vtSrc VT_I4, VT_ERROR or VT_BOOL.
  COleVariant(long lSrc, VARTYPE vtSrc = VT_I4);
#if defined(_WIN32)
  COleVariant(LONGLONG nSrc) noexcept;
#else
  // LONG is int here and LONGLONG is long: a long beyond 32 bits, which no Windows long holds,
  // can only be a LONGLONG, and is stored as VT_I8.
  COleVariant(LONG lSrc, VARTYPE vtSrc = VT_I4);
  COleVariant(long long nSrc) noexcept;
#endif
  COleVariant(ULONGLONG nSrc) noexcept;
  COleVariant(float fltSrc) noexcept;
  COleVariant(double dblSrc) noexcept;
  // VT_DATE and VT_CY.
  COleVariant(const COleDateTime &dateSrc) noexcept;
  COleVariant(const COleCurrency &curSrc) noexcept;
  ~COleVariant();

  void Clear();
  // Converts pSrc (this one when null) to vartype in place.
  void ChangeType(VARTYPE vartype, LPVARIANT pSrc = nullptr);
  // Takes over varSrc's value, leaving varSrc empty.
  void Attach(VARIANT &varSrc);
  // Hands the value over; this one is left empty.
  VARIANT Detach();
  void SetString(LPCTSTR lpszSrc, VARTYPE vtSrc);

  BOOL operator==(const VARIANT &varSrc) const;
  BOOL operator==(LPCVARIANT pSrc) const;

  const COleVariant &operator=(const VARIANT &varSrc);
  const COleVariant &operator=(LPCVARIANT pSrc);
  const COleVariant &operator=(const COleVariant &varSrc);
  const COleVariant &operator=(const LPCTSTR lpszSrc);
  const COleVariant &operator=(const CString &strSrc);
  // The numeric assignments keep a compatible current type (VT_BOOL, VT_ERROR), as the
  // framework does; anything else becomes the value's own type.
  const COleVariant &operator=(BYTE nSrc);
  const COleVariant &operator=(short nSrc);
  const COleVariant &operator=(long lSrc);
#if defined(_WIN32)
  const COleVariant &operator=(LONGLONG nSrc);
#else
  const COleVariant &operator=(LONG lSrc);
  const COleVariant &operator=(long long nSrc);
#endif
  const COleVariant &operator=(ULONGLONG nSrc);
  const COleVariant &operator=(const COleDateTime &dateSrc);
  const COleVariant &operator=(const COleCurrency &curSrc);
  const COleVariant &operator=(float fltSrc);
  const COleVariant &operator=(double dblSrc);

  operator LPVARIANT() noexcept { return this; }
  operator LPCVARIANT() const noexcept { return this; }
};

// A VARIANT that owns a SAFEARRAY (vt is VT_ARRAY | the element type). Index lists and bounds
// are `long`, as in the framework; on POSIX, where LONG is narrower, LONG lists work too.
// Failures throw CMemoryException* or COleException*; a VARIANT that is not an array, given to a
// constructor or assignment, throws CInvalidArgException*.
class VLX_API COleSafeArray : public tagVARIANT {
public:
  COleSafeArray() noexcept;
  COleSafeArray(const SAFEARRAY &saSrc, VARTYPE vtSrc);
  COleSafeArray(LPCSAFEARRAY pSrc, VARTYPE vtSrc);
  COleSafeArray(const COleSafeArray &saSrc);
  COleSafeArray(const VARIANT &varSrc);
  COleSafeArray(LPCVARIANT pSrc);
  COleSafeArray(const COleVariant &varSrc);
  ~COleSafeArray();

  void Clear();
  void Attach(VARIANT &varSrc);
  VARIANT Detach();

  COleSafeArray &operator=(const COleSafeArray &saSrc);
  COleSafeArray &operator=(const VARIANT &varSrc);
  COleSafeArray &operator=(LPCVARIANT pSrc);
  COleSafeArray &operator=(const COleVariant &varSrc);

  BOOL operator==(const SAFEARRAY &saSrc) const;
  BOOL operator==(LPCSAFEARRAY pSrc) const;
  BOOL operator==(const COleSafeArray &saSrc) const;
  BOOL operator==(const VARIANT &varSrc) const;
  BOOL operator==(LPCVARIANT pSrc) const;
  BOOL operator==(const COleVariant &varSrc) const;

  operator LPVARIANT() noexcept { return this; }
  operator LPCVARIANT() const noexcept { return this; }

  // One dimension of dwElements from nLBound, filled from pvSrcData's bytes when given.
  void CreateOneDim(VARTYPE vtSrc, DWORD dwElements, const void *pvSrcData = nullptr,
                    long nLBound = 0);
  DWORD GetOneDimSize();
  // The one dimension, now dwElements long and numbered from 0, as the framework does.
  void ResizeOneDim(DWORD dwElements);
  // dwDims dimensions of rgElements[i] elements each, numbered from 0.
  void Create(VARTYPE vtSrc, DWORD dwDims, DWORD *rgElements);
  void Create(VARTYPE vtSrc, DWORD dwDims, SAFEARRAYBOUND *rgsabounds);

  void AccessData(void **ppvData);
  void UnaccessData();
  void AllocData();
  void AllocDescriptor(DWORD dwDims);
  void Copy(LPSAFEARRAY *ppsa);
  void GetLBound(DWORD dwDim, long *pLBound);
  void GetUBound(DWORD dwDim, long *pUBound);
  void GetElement(long *rgIndices, void *pvData);
  void PtrOfIndex(long *rgIndices, void **ppvData);
  void PutElement(long *rgIndices, void *pvData);
#if !defined(_WIN32)
  void GetLBound(DWORD dwDim, LONG *pLBound);
  void GetUBound(DWORD dwDim, LONG *pUBound);
  void GetElement(LONG *rgIndices, void *pvData);
  void PtrOfIndex(LONG *rgIndices, void **ppvData);
  void PutElement(LONG *rgIndices, void *pvData);
#endif
  void Redim(SAFEARRAYBOUND *psaboundNew);
  void Lock();
  void Unlock();
  DWORD GetDim();
  DWORD GetElemSize();
  void Destroy();
  void DestroyData();
  void DestroyDescriptor();

  DWORD m_dwElementSize;
  DWORD m_dwDims;
};
