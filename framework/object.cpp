// CObject, CRuntimeClass and the allocation hook.
#include <velmora/afx/exception.h>
#include <velmora/afx/object.h>

#include "framework/alloc.h"

#include <atomic>
#include <cstdlib>

namespace {

// Both constant-initialised: allocation works before any static constructor.
std::atomic<AFX_ALLOC_HOOK> allocHook{nullptr};
std::atomic<LONG> allocRequests{0};

} // namespace

namespace vlx::detail {

void *allocate(std::size_t nSize, bool bObject) noexcept {
  LONG request = allocRequests.fetch_add(1, std::memory_order_relaxed) + 1;
  AFX_ALLOC_HOOK hook = allocHook.load(std::memory_order_acquire);
  if (hook != nullptr && !hook(nSize, bObject ? TRUE : FALSE, request))
    return nullptr;
  return std::malloc(nSize != 0 ? nSize : 1);
}

void *allocateOrThrow(std::size_t nSize, bool bObject) {
  void *p = allocate(nSize, bObject);
  if (p == nullptr)
    AfxThrowMemoryException();
  return p;
}

void deallocate(void *p) noexcept { std::free(p); }

} // namespace vlx::detail

AFX_ALLOC_HOOK AfxSetAllocHook(AFX_ALLOC_HOOK pfnAllocHook) {
  return allocHook.exchange(pfnAllocHook, std::memory_order_acq_rel);
}

// ---- CRuntimeClass

CObject *CRuntimeClass::CreateObject() {
  if (m_pfnCreateObject == nullptr)
    return nullptr;
  try {
    return m_pfnCreateObject();
  } catch (CException *e) {
    e->Delete();
    return nullptr;
  }
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass *pBaseClass) const {
  for (const CRuntimeClass *p = this; p != nullptr;
       p = p->m_pfnGetBaseClass != nullptr ? p->m_pfnGetBaseClass() : nullptr) {
    if (p == pBaseClass)
      return TRUE;
  }
  return FALSE;
}

// ---- CObject

const CRuntimeClass CObject::classCObject = {"CObject", sizeof(CObject), 0xFFFF, nullptr,
                                             nullptr,   nullptr,         nullptr};

CRuntimeClass *CObject::GetThisClass() { return _RUNTIME_CLASS(CObject); }
CRuntimeClass *CObject::_GetBaseClass() { return nullptr; }
CRuntimeClass *CObject::GetRuntimeClass() const { return _RUNTIME_CLASS(CObject); }

CObject::~CObject() = default;

void *CObject::operator new(size_t nSize) { return vlx::detail::allocateOrThrow(nSize, true); }

void *CObject::operator new(size_t nSize, const std::nothrow_t &) noexcept {
  return vlx::detail::allocate(nSize, true);
}

void CObject::operator delete(void *p) noexcept { vlx::detail::deallocate(p); }

void CObject::operator delete(void *p, const std::nothrow_t &) noexcept {
  vlx::detail::deallocate(p);
}

void CObject::Serialize(CArchive &) {}
void CObject::AssertValid() const {}
void CObject::Dump(CDumpContext &) const {}

BOOL CObject::IsSerializable() const { return GetRuntimeClass()->m_wSchema != 0xFFFF; }

BOOL CObject::IsKindOf(const CRuntimeClass *pClass) const {
  return GetRuntimeClass()->IsDerivedFrom(pClass);
}

CObject *AfxDynamicDownCast(CRuntimeClass *pClass, CObject *pObject) {
  return pObject != nullptr && pObject->IsKindOf(pClass) ? pObject : nullptr;
}
