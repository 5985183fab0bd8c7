// The copy under CopyFileA, CopyFileExA and the copying move of MoveFileExA.
#pragma once

#include <velmora/win32/files.h>

namespace vlx::posix {

// Copies into a new file beside the target and renames it into place, so the target is whole or
// untouched; `routine` and `cancel` (both may be null) as CopyFileExA takes them.
BOOL copyFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists,
              LPPROGRESS_ROUTINE routine, LPVOID data, LPBOOL cancel);

} // namespace vlx::posix
