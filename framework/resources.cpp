// String resources: none are bundled yet, so every lookup misses.
#include "framework/resources.h"

namespace vlx::detail {

bool loadString(UINT, CString &) { return false; }

} // namespace vlx::detail
