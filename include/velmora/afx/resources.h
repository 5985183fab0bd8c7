// String resources: the tables modules register, found through the framework's module chain.
#pragma once

#include <velmora/afx/string.h>
#include <velmora/export.h>
#include <velmora/win32.h>

#include <cstddef>

// A string is looked up in the module of the current resource handle (AfxGetResourceHandle())
// first, then in each extension module of the chain (CDynLinkLibrary::m_hResource), system
// modules last. On Windows a module's own string table is read where no table was registered.

// Copies string nIDS into lpszBuf, cut to nMaxBuf - 1 characters; returns the characters
// copied, or 0 (and an empty buffer) when no module has the string.
VLX_API int AfxLoadString(UINT nIDS, LPTSTR lpszBuf, UINT nMaxBuf = 256);

// rString becomes string nIDS with each %1 replaced by lpsz1 (and %2 by lpsz2); a %2..%9 with no
// argument becomes '?'. A missing string gives an empty rString.
VLX_API void AfxFormatString1(CString &rString, UINT nIDS, LPCTSTR lpsz1);
VLX_API void AfxFormatString2(CString &rString, UINT nIDS, LPCTSTR lpsz1, LPCTSTR lpsz2);

namespace vlx {

struct StringResource {
  UINT id;
  LPCTSTR text;
};

// Gives `module` these strings, as a string table among its resources would; the texts are
// copied. A host registers its table under its resource handle:
//   static const vlx::StringResource kStrings[] = {{10122, "Backup of "}};
//   vlx::registerStringTable(AfxGetResourceHandle(), kStrings);
// An id registered again takes the new text; an empty or null text removes the id, since a
// string table holds no empty strings.
VLX_API void registerStringTable(HINSTANCE module, const StringResource *strings,
                                 std::size_t count);
template <std::size_t N>
void registerStringTable(HINSTANCE module, const StringResource (&strings)[N]) {
  registerStringTable(module, strings, N);
}

// Removes every string registered for `module`.
VLX_API void unregisterStringTable(HINSTANCE module);

} // namespace vlx
