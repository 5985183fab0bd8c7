// Translation of SQLite result codes into the Win32 error codes the registry calls return.
#pragma once

#include <velmora/win32.h>

namespace vlx {

// Maps a (possibly extended) SQLite result code; SQLITE_OK, ROW and DONE give ERROR_SUCCESS.
LONG errorFromSqlite(int rc);

// True for results that mean the hive file itself is damaged.
bool isDamageResult(int rc);

} // namespace vlx
