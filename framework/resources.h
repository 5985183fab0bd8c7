// String resources of the framework and its modules.
#pragma once

#include <velmora/afx/string.h>
#include <velmora/win32.h>

namespace vlx::detail {

// Loads string resource nID into rString; false when no module has it.
bool loadString(UINT nID, CString &rString);

} // namespace vlx::detail
