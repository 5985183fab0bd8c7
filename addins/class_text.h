// The narrow braced text of a class identifier, as the add-in lists store it.
#pragma once

#include <velmora/afx.h>

namespace vlx {

// Size of the buffers that names and values of the lists are read into.
constexpr DWORD kNameChars = 261;

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case digits.
CString classText(const GUID &clsid);

} // namespace vlx
