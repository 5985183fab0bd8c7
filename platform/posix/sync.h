// Events of this process, for CloseHandle, which closes every kind of handle.
#pragma once

#include <velmora/win32.h>

namespace vlx {

// Closes `handle` when it is an event; false when it is not one.
bool closeEvent(HANDLE handle);

} // namespace vlx
