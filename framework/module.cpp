// The module state, the class list and the chain of extension modules.
#include <velmora/afx/module.h>

#include <cstring>
#include <mutex>
#include <type_traits>

namespace {

// Zero-initialised: the pre-entry hook runs before any static constructor.
AFX_MODULE_STATE moduleState;
static_assert(std::is_trivially_default_constructible<AFX_MODULE_STATE>::value &&
                  std::is_trivially_destructible<AFX_MODULE_STATE>::value,
              "the module state needs no constructor");

std::mutex globalsMutex; // constant-initialised

// Unlinks the chosen libraries under the lock, then deletes them outside it (a destructor
// takes the lock itself).
template <class Pred> void deleteLibraries(Pred chosen) {
  for (;;) {
    CDynLinkLibrary *victim = nullptr;
    {
      std::lock_guard<std::mutex> lock(globalsMutex);
      auto &list = moduleState.m_libraryList;
      for (CDynLinkLibrary *p = list.GetHead(); p != nullptr; p = list.GetNext(p)) {
        if (chosen(p)) {
          victim = p;
          list.Remove(p);
          break;
        }
      }
    }
    if (victim == nullptr)
      return;
    delete victim;
  }
}

// The framework owns the libraries in the chain and deletes them when it terminates.
struct LibraryListTerminator {
  ~LibraryListTerminator() {
    deleteLibraries([](CDynLinkLibrary *) { return true; });
  }
} libraryListTerminator;

} // namespace

AFX_MODULE_STATE *AfxGetModuleState() { return &moduleState; }

HINSTANCE AfxGetInstanceHandle() { return moduleState.m_hCurrentInstanceHandle; }

HINSTANCE AfxGetResourceHandle() { return moduleState.m_hCurrentResourceHandle; }

void AfxSetResourceHandle(HINSTANCE hInstResource) {
  moduleState.m_hCurrentResourceHandle = hInstResource;
}

void AfxLockGlobals(int) { globalsMutex.lock(); }

void AfxUnlockGlobals(int) { globalsMutex.unlock(); }

void AfxClassInit(CRuntimeClass *pNewClass) {
  std::lock_guard<std::mutex> lock(globalsMutex);
  moduleState.m_classList.AddHead(pNewClass);
}

CRuntimeClass *CRuntimeClass::FromName(LPCSTR lpszClassName) {
  if (lpszClassName == nullptr)
    return nullptr;
  auto search = [lpszClassName](const CTypedSimpleList<CRuntimeClass *> &list) {
    for (CRuntimeClass *p = list.GetHead(); p != nullptr; p = list.GetNext(p)) {
      if (std::strcmp(p->m_lpszClassName, lpszClassName) == 0)
        return p;
    }
    return static_cast<CRuntimeClass *>(nullptr);
  };
  std::lock_guard<std::mutex> lock(globalsMutex);
  if (CRuntimeClass *found = search(moduleState.m_classList))
    return found;
  for (CDynLinkLibrary *dll = moduleState.m_libraryList; dll != nullptr; dll = dll->m_pNextDLL) {
    if (CRuntimeClass *found = search(dll->m_classList))
      return found;
  }
  return nullptr;
}

namespace vlx {

BOOL afxExtensionPreEntry(HINSTANCE, DWORD dwReason) {
  if (dwReason == DLL_PROCESS_ATTACH) {
    std::lock_guard<std::mutex> lock(globalsMutex);
    moduleState.m_pClassInit = moduleState.m_classList.m_pHead;
    moduleState.m_pFactoryInit = moduleState.m_factoryList.m_pHead;
    moduleState.m_classList.m_pHead = nullptr;
    moduleState.m_factoryList.m_pHead = nullptr;
  }
  return TRUE;
}

} // namespace vlx

// What was registered since the pre-entry hook belongs to the module; the lists go back to
// what they held before.
BOOL AfxInitExtensionModule(AFX_EXTENSION_MODULE &state, HMODULE hModule) {
  if (state.bInitialized)
    return TRUE;
  state.bInitialized = TRUE;
  state.hModule = hModule;
  state.hResource = hModule;
  std::lock_guard<std::mutex> lock(globalsMutex);
  state.pFirstSharedClass = moduleState.m_classList.m_pHead;
  moduleState.m_classList.m_pHead = moduleState.m_pClassInit;
  state.pFirstSharedFactory = moduleState.m_factoryList.m_pHead;
  moduleState.m_factoryList.m_pHead = moduleState.m_pFactoryInit;
  return TRUE;
}

void AfxTermExtensionModule(AFX_EXTENSION_MODULE &state, BOOL bAll) {
  if (!state.bInitialized)
    return;
  HMODULE hModule = state.hModule;
  deleteLibraries([bAll, hModule](CDynLinkLibrary *p) { return bAll || p->m_hModule == hModule; });
}

// ---- CDynLinkLibrary

IMPLEMENT_DYNAMIC(CDynLinkLibrary, CObject)

CDynLinkLibrary::CDynLinkLibrary(AFX_EXTENSION_MODULE &state, BOOL bSystem)
    : m_hModule(state.hModule), m_hResource(state.hResource), m_classList{state.pFirstSharedClass},
      m_factoryList{static_cast<COleObjectFactory *>(state.pFirstSharedFactory)},
      m_bSystem(bSystem), m_pNextDLL(nullptr) {
  std::lock_guard<std::mutex> lock(globalsMutex);
  moduleState.m_libraryList.AddHead(this);
}

CDynLinkLibrary::CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource)
    : m_hModule(hModule), m_hResource(hResource), m_classList{nullptr}, m_factoryList{nullptr},
      m_bSystem(FALSE), m_pNextDLL(nullptr) {
  std::lock_guard<std::mutex> lock(globalsMutex);
  moduleState.m_libraryList.AddHead(this);
}

CDynLinkLibrary::~CDynLinkLibrary() {
  std::lock_guard<std::mutex> lock(globalsMutex);
  moduleState.m_libraryList.Remove(this);
}
