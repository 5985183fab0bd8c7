// Reading a caller's buffer that may not be readable, without touching it: the kernel checks it.
#pragma once

#include <cstddef>
#include <string>

namespace vlx::posix {

// Copies `size` bytes at `from` into `out`; false when any of them cannot be read, which a
// Win32 call answers with ERROR_NOACCESS where Windows would have caught the fault.
bool copyCallerBytes(const void *from, size_t size, std::string *out);

// Whether every byte of the caller's buffer may be read, or written, checked page by page
// without changing it: Windows probes a buffer before a file call moves any data. Where the
// kernel will not tell, the answer is yes and the call itself meets the fault.
bool callerMayRead(const void *buffer, size_t size);
bool callerMayWrite(void *buffer, size_t size);

} // namespace vlx::posix
