// BSTR: 16-bit text after a 32-bit byte count, with a 16-bit zero after the text.
#include <velmora/win32.h>

#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kPrefix = sizeof(DWORD);

// `bytes` of text, copied from `source` when it is not null; the terminator is always written.
BSTR allocateBytes(const void *source, UINT bytes) {
  // Room for the count, the text, and a whole 16-bit zero even after an odd byte count.
  size_t total = kPrefix + size_t(bytes) + sizeof(OLECHAR) + 1;
  auto *block = static_cast<unsigned char *>(std::malloc(total));
  if (block == nullptr)
    return nullptr;
  DWORD count = bytes;
  std::memcpy(block, &count, kPrefix);
  unsigned char *text = block + kPrefix;
  if (source != nullptr)
    std::memcpy(text, source, bytes);
  std::memset(text + bytes, 0, sizeof(OLECHAR) + 1);
  return reinterpret_cast<BSTR>(text);
}

} // namespace

extern "C" {

BSTR WINAPI SysAllocStringLen(const OLECHAR *strIn, UINT ui) {
  if (ui > (0xFFFFFFFFu - 16) / sizeof(OLECHAR))
    return nullptr;
  return allocateBytes(strIn, UINT(ui * sizeof(OLECHAR)));
}

BSTR WINAPI SysAllocString(const OLECHAR *psz) {
  if (psz == nullptr)
    return nullptr;
  UINT length = 0;
  while (psz[length] != 0)
    ++length;
  return SysAllocStringLen(psz, length);
}

BSTR WINAPI SysAllocStringByteLen(LPCSTR psz, UINT len) {
  if (len > 0xFFFFFFFFu - 16)
    return nullptr;
  return allocateBytes(psz, len);
}

void WINAPI SysFreeString(BSTR bstrString) {
  if (bstrString != nullptr)
    std::free(reinterpret_cast<unsigned char *>(bstrString) - kPrefix);
}

UINT WINAPI SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr)
    return 0;
  DWORD count;
  std::memcpy(&count, reinterpret_cast<unsigned char *>(bstr) - kPrefix, kPrefix);
  return count;
}

UINT WINAPI SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

} // extern "C"
