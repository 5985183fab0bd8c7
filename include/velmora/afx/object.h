// CObject, CRuntimeClass and the run-time class macros of the framework.
#pragma once

#include <velmora/export.h>
#include <velmora/win32.h>

#include <cstddef>
#include <new>

class CObject;
class CArchive;
class CDumpContext;

// The record of one class. An aggregate, so that every record is constant-initialised; the base
// class is reached through a function so that records can live in different modules.
struct VLX_API CRuntimeClass {
  LPCSTR m_lpszClassName;
  int m_nObjectSize;
  UINT m_wSchema; // 0xFFFF: not serializable
  CObject *(*m_pfnCreateObject)();
  CRuntimeClass *(*m_pfnGetBaseClass)();
  CRuntimeClass *m_pNextClass; // link in a class list
  const void *m_pClassInit;

  CObject *CreateObject();
  BOOL IsDerivedFrom(const CRuntimeClass *pBaseClass) const;
  // Looks the name up in the registered class lists; NULL when absent.
  static CRuntimeClass *FromName(LPCSTR lpszClassName);
};

// Allocation hook: FALSE refuses the allocation.
typedef BOOL (*AFX_ALLOC_HOOK)(size_t nSize, BOOL bObject, LONG lRequestNumber);
VLX_API AFX_ALLOC_HOOK AfxSetAllocHook(AFX_ALLOC_HOOK pfnAllocHook);

class VLX_API CObject {
public:
  // The virtual functions keep this slot order.
  virtual CRuntimeClass *GetRuntimeClass() const;
  virtual ~CObject() = 0;

  void *operator new(size_t nSize);
  void *operator new(size_t nSize, const std::nothrow_t &) noexcept;
  void *operator new(size_t, void *p) noexcept { return p; }
  void operator delete(void *p) noexcept;
  void operator delete(void *p, const std::nothrow_t &) noexcept;
  void operator delete(void *, void *) noexcept {}

protected:
  CObject() noexcept {}

public:
  CObject(const CObject &) = delete;
  CObject &operator=(const CObject &) = delete;

  virtual void Serialize(CArchive &ar);
  virtual void AssertValid() const;
  virtual void Dump(CDumpContext &dc) const;

  BOOL IsSerializable() const;
  BOOL IsKindOf(const CRuntimeClass *pClass) const;

  static const CRuntimeClass classCObject;
  static CRuntimeClass *GetThisClass();
  static CRuntimeClass *_GetBaseClass();
};

// Casts down when the object is of that class (or derived), NULL otherwise.
VLX_API CObject *AfxDynamicDownCast(CRuntimeClass *pClass, CObject *pObject);

#define _RUNTIME_CLASS(class_name) (const_cast<CRuntimeClass *>(&class_name::class##class_name))
#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())

#define DYNAMIC_DOWNCAST(class_name, object)                                                       \
  (static_cast<class_name *>(AfxDynamicDownCast(RUNTIME_CLASS(class_name), object)))
#define STATIC_DOWNCAST(class_name, object) (static_cast<class_name *>(object))

#define DECLARE_DYNAMIC(class_name)                                                                \
protected:                                                                                         \
  static CRuntimeClass *_GetBaseClass();                                                           \
                                                                                                   \
public:                                                                                            \
  static const CRuntimeClass class##class_name;                                                    \
  static CRuntimeClass *GetThisClass();                                                            \
  CRuntimeClass *GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name)                                                              \
  DECLARE_DYNAMIC(class_name)                                                                      \
  static CObject *CreateObject();

#define IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, wSchema, pfnNew, class_init)           \
  CRuntimeClass *class_name::_GetBaseClass() { return RUNTIME_CLASS(base_class_name); }            \
  const CRuntimeClass class_name::class##class_name = {                                            \
      #class_name, sizeof(class class_name), wSchema, pfnNew, &class_name::_GetBaseClass, nullptr, \
      class_init};                                                                                 \
  CRuntimeClass *class_name::GetThisClass() { return _RUNTIME_CLASS(class_name); }                 \
  CRuntimeClass *class_name::GetRuntimeClass() const { return _RUNTIME_CLASS(class_name); }

#define IMPLEMENT_DYNAMIC(class_name, base_class_name)                                             \
  IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, nullptr, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                                           \
  CObject *class_name::CreateObject() { return new class_name; }                                   \
  IMPLEMENT_RUNTIMECLASS(class_name, base_class_name, 0xFFFF, class_name::CreateObject, nullptr)
