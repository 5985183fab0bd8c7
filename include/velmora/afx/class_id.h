// Reading a class identifier from its text: the braced form or a programmatic identifier.
#pragma once

#include <velmora/export.h>
#include <velmora/win32.h>

// Text that begins with "{" is read as the braced form (CLSIDFromString), any other text as a
// ProgID (CLSIDFromProgID); the result is theirs. E_INVALIDARG for a null argument.
VLX_API HRESULT AfxGetClassIDFromString(LPCTSTR lpsz, LPCLSID lpClsID);
