// Narrow text as BSTRs, for the framework's OLE classes.
#pragma once

#include <velmora/afx/string.h>
#include <velmora/win32.h>

namespace vlx::detail {

// Narrow text as a new BSTR; a null pointer gives a null BSTR. Throws CMemoryException when
// memory runs out.
BSTR narrowToBstr(LPCSTR text);
// The BSTR's text as narrow text; takes the BSTR over and frees it.
CString takeBstrAsNarrow(BSTR text);

} // namespace vlx::detail
