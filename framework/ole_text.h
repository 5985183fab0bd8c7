// Narrow text as BSTRs, for the framework's OLE classes.
#pragma once

#include <velmora/win32.h>

namespace vlx::detail {

// Narrow text as a new BSTR; a null pointer gives a null BSTR. Throws CMemoryException when
// memory runs out.
BSTR narrowToBstr(LPCSTR text);

} // namespace vlx::detail
