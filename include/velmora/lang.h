// The language subdirectory and the language directory beside the host's executable.
#pragma once

#include <velmora/afx.h>
#include <velmora/export.h>

// "\lang\<language>" for the user's language, or "\lang\english" when the preference
// "Use English language" of section General is 1. Decided once per process.
VLX_API const CString &su_GetLangSubdir();

// The executable's directory followed by the language subdirectory, else by "\lang\english",
// whichever is a directory; else empty after telling the user in a message box. Kept once found.
VLX_API const CString &su_GetLangDirForDLL();
