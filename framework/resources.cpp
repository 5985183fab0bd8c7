// String resources: registered tables per module, looked up along the module chain.
#include "framework/resources.h"

#include <velmora/afx/module.h>
#include <velmora/afx/resources.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace {

using Table = std::map<UINT, std::string>;

struct Tables {
  std::mutex mutex;
  std::map<HINSTANCE, Table> byModule;
};

// Built on first use: hosts may register from their own static constructors.
Tables &tables() {
  static Tables instance;
  return instance;
}

class GlobalsLock {
public:
  GlobalsLock() { AfxLockGlobals(CRIT_DYNLINKLIST); }
  ~GlobalsLock() { AfxUnlockGlobals(CRIT_DYNLINKLIST); }
  GlobalsLock(const GlobalsLock &) = delete;
  GlobalsLock &operator=(const GlobalsLock &) = delete;
};

// The string of one module: its registered table, else (on Windows) its own resources.
bool findIn(const Tables &all, HINSTANCE module, UINT nID, CString &rString) {
  auto table = all.byModule.find(module);
  if (table != all.byModule.end()) {
    auto entry = table->second.find(nID);
    if (entry != table->second.end()) {
      rString = CString(entry->second.data(), static_cast<int>(entry->second.size()));
      return true;
    }
  }
#if defined(_WIN32)
  // A string table entry holds at most 4095 characters.
  TCHAR buffer[4096];
  int length = ::LoadStringA(module, nID, buffer, static_cast<int>(sizeof buffer));
  if (length > 0) {
    rString = CString(buffer, length);
    return true;
  }
#endif
  return false;
}

// Replaces %1..%9 by the arguments; one without an argument shows as '?'.
void formatStrings(CString &rString, LPCTSTR lpszFormat, LPCTSTR const *args, int count) {
  CString result;
  for (LPCTSTR p = lpszFormat; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] >= '1' && p[1] <= '9') {
      int index = p[1] - '1';
      if (index >= count)
        result += '?';
      else if (args[index] != nullptr)
        result += args[index];
      ++p;
    } else {
      result += *p;
    }
  }
  rString = std::move(result);
}

void formatResource(CString &rString, UINT nIDS, LPCTSTR const *args, int count) {
  CString format;
  if (!vlx::detail::loadString(nIDS, format)) {
    rString.Empty();
    return;
  }
  formatStrings(rString, format, args, count);
}

} // namespace

namespace vlx {

void registerStringTable(HINSTANCE module, const StringResource *strings, std::size_t count) {
  Tables &all = tables();
  std::lock_guard<std::mutex> lock(all.mutex);
  Table &table = all.byModule[module];
  for (std::size_t i = 0; i < count; ++i) {
    if (strings[i].text == nullptr || *strings[i].text == '\0')
      table.erase(strings[i].id);
    else
      table[strings[i].id] = strings[i].text;
  }
  if (table.empty())
    all.byModule.erase(module);
}

void unregisterStringTable(HINSTANCE module) {
  Tables &all = tables();
  std::lock_guard<std::mutex> lock(all.mutex);
  all.byModule.erase(module);
}

namespace detail {

bool loadString(UINT nID, CString &rString) {
  // The chain's lock first, then the tables': registration takes only the second.
  GlobalsLock chainLock;
  Tables &all = tables();
  std::lock_guard<std::mutex> lock(all.mutex);
  AFX_MODULE_STATE *state = AfxGetModuleState();
  if (findIn(all, state->m_hCurrentResourceHandle, nID, rString))
    return true;
  for (BOOL system : {FALSE, TRUE}) {
    for (CDynLinkLibrary *dll = state->m_libraryList; dll != nullptr; dll = dll->m_pNextDLL) {
      if ((dll->m_bSystem != FALSE) == (system != FALSE) &&
          findIn(all, dll->m_hResource, nID, rString))
        return true;
    }
  }
  return false;
}

} // namespace detail
} // namespace vlx

int AfxLoadString(UINT nIDS, LPTSTR lpszBuf, UINT nMaxBuf) {
  if (lpszBuf == nullptr || nMaxBuf == 0)
    return 0;
  CString text;
  if (!vlx::detail::loadString(nIDS, text)) {
    *lpszBuf = '\0';
    return 0;
  }
  UINT length = static_cast<UINT>(text.GetLength());
  if (length > nMaxBuf - 1)
    length = nMaxBuf - 1;
  std::memcpy(lpszBuf, text.GetString(), length);
  lpszBuf[length] = '\0';
  return static_cast<int>(length);
}

void AfxFormatString1(CString &rString, UINT nIDS, LPCTSTR lpsz1) {
  formatResource(rString, nIDS, &lpsz1, 1);
}

void AfxFormatString2(CString &rString, UINT nIDS, LPCTSTR lpsz1, LPCTSTR lpsz2) {
  LPCTSTR args[] = {lpsz1, lpsz2};
  formatResource(rString, nIDS, args, 2);
}

BOOL CString::LoadString(UINT nID) {
  CString text;
  if (!vlx::detail::loadString(nID, text))
    return FALSE;
  *this = std::move(text);
  return TRUE;
}
