// The OLE task allocator: memory that one side allocates and the other frees.
#include <velmora/win32.h>

#include <cstdlib>

extern "C" {

// A zero-byte request still gives a distinct block, as on Windows.
LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) { return std::malloc(cb ? cb : 1); }

// A zero size frees the block.
LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (pv && cb == 0) {
    std::free(pv);
    return nullptr;
  }
  return std::realloc(pv, cb ? cb : 1);
}

void WINAPI CoTaskMemFree(LPVOID pv) { std::free(pv); }

} // extern "C"
