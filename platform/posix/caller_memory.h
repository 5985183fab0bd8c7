// Reading a caller's buffer that may not be readable, without touching it: the kernel checks it.
#pragma once

#include <cstddef>
#include <string>

namespace vlx::posix {

// Copies `size` bytes at `from` into `out`; false when any of them cannot be read, which a
// Win32 call answers with ERROR_NOACCESS where Windows would have caught the fault.
bool copyCallerBytes(const void *from, size_t size, std::string *out);

} // namespace vlx::posix
