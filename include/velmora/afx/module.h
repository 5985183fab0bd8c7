// The module state and the chain of extension modules (CDynLinkLibrary).
#pragma once

#include <velmora/afx/object.h>
#include <velmora/export.h>
#include <velmora/win32.h>

#include <type_traits>

class COleObjectFactory;
class CDynLinkLibrary;

namespace vlx {
// Where each kind of list element keeps its link.
template <class T> struct SimpleListLink;
template <> struct SimpleListLink<CRuntimeClass> {
  static CRuntimeClass *&next(CRuntimeClass *p) noexcept { return p->m_pNextClass; }
};
} // namespace vlx

// A singly linked list threaded through its elements. Trivial, so that a list with static
// storage is zero-initialised before any code runs.
template <class TYPE> struct CTypedSimpleList {
  TYPE m_pHead;

  operator TYPE() const noexcept { return m_pHead; }
  TYPE GetHead() const noexcept { return m_pHead; }
  BOOL IsEmpty() const noexcept { return m_pHead == nullptr; }
  void RemoveAll() noexcept { m_pHead = nullptr; }
  TYPE GetNext(TYPE p) const noexcept { return link(p); }
  void AddHead(TYPE p) noexcept {
    link(p) = m_pHead;
    m_pHead = p;
  }
  // FALSE when p is not in the list.
  BOOL Remove(TYPE p) noexcept {
    for (TYPE *pp = &m_pHead; *pp != nullptr; pp = &link(*pp)) {
      if (*pp == p) {
        *pp = link(p);
        link(p) = nullptr;
        return TRUE;
      }
    }
    return FALSE;
  }

private:
  static TYPE &link(TYPE p) noexcept {
    return vlx::SimpleListLink<typename std::remove_pointer<TYPE>::type>::next(p);
  }
};

// Filled by AfxInitExtensionModule from the lists the pre-entry hook set aside.
struct AFX_EXTENSION_MODULE {
  BOOL bInitialized;
  HMODULE hModule;
  HMODULE hResource;
  CRuntimeClass *pFirstSharedClass;
  void *pFirstSharedFactory;
};

// The framework's state. Zero-initialised, it is valid before any static constructor runs.
struct AFX_MODULE_STATE {
  HINSTANCE m_hCurrentInstanceHandle;
  HINSTANCE m_hCurrentResourceHandle; // where string resources are looked up first
  LPCTSTR m_lpszCurrentAppName;
  BOOL m_bDLL;

  CTypedSimpleList<CRuntimeClass *> m_classList;
  CTypedSimpleList<COleObjectFactory *> m_factoryList;
  // The list heads as they were when the pre-entry hook ran.
  CRuntimeClass *m_pClassInit;
  COleObjectFactory *m_pFactoryInit;

  // Extension modules, most recently constructed first; walk with m_pNextDLL.
  CTypedSimpleList<CDynLinkLibrary *> m_libraryList;
};

VLX_API AFX_MODULE_STATE *AfxGetModuleState();
VLX_API HINSTANCE AfxGetInstanceHandle();
VLX_API HINSTANCE AfxGetResourceHandle();
VLX_API void AfxSetResourceHandle(HINSTANCE hInstResource);

// Guards the lists of the module state; the lock type is accepted for compatibility.
#define CRIT_DYNLINKLIST 0
#define CRIT_RUNTIMECLASSLIST 1
#define CRIT_OBJECTFACTORYLIST 2
VLX_API void AfxLockGlobals(int nLockType);
VLX_API void AfxUnlockGlobals(int nLockType);

// Adds a class to the module state's class list.
VLX_API void AfxClassInit(CRuntimeClass *pNewClass);
struct AFX_CLASSINIT {
  explicit AFX_CLASSINIT(CRuntimeClass *pNewClass) { AfxClassInit(pNewClass); }
};

VLX_API BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE &state, HMODULE hModule);
// Deletes the CDynLinkLibrary objects of the module, or all of them when bAll.
VLX_API void AfxTermExtensionModule(AFX_EXTENSION_MODULE &state, BOOL bAll = FALSE);

// One extension module in the chain. Construct it with new: the framework owns it from then on
// and deletes it at its own termination (or in AfxTermExtensionModule).
class VLX_API CDynLinkLibrary : public CObject {
  DECLARE_DYNAMIC(CDynLinkLibrary)
public:
  explicit CDynLinkLibrary(AFX_EXTENSION_MODULE &state, BOOL bSystem = FALSE);
  CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource);
  ~CDynLinkLibrary() override;

  HMODULE m_hModule;
  HMODULE m_hResource;
  CTypedSimpleList<CRuntimeClass *> m_classList;
  CTypedSimpleList<COleObjectFactory *> m_factoryList;
  BOOL m_bSystem;
  CDynLinkLibrary *m_pNextDLL;
};

namespace vlx {

template <> struct SimpleListLink<CDynLinkLibrary> {
  static CDynLinkLibrary *&next(CDynLinkLibrary *p) noexcept { return p->m_pNextDLL; }
};

// Runs before the static constructors of an extension module: on DLL_PROCESS_ATTACH it sets
// the class and factory lists aside (m_pClassInit, m_pFactoryInit) and empties them, so that
// AfxInitExtensionModule can take what the module's constructors register. Returns TRUE.
VLX_API BOOL afxExtensionPreEntry(HINSTANCE hInstance, DWORD dwReason);

} // namespace vlx
