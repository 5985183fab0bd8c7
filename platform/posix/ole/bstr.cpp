// BSTR: 16-bit text after a 32-bit byte count, with a 16-bit zero after the text; the BSTR
// functions that compare, join and reallocate.
#include <velmora/win32.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <type_traits>
#include <utility>

namespace {

// As on Windows, blocks are 16-byte aligned and the count sits right before the text, which
// starts a pointer's size into the block.
constexpr size_t kPrefix = sizeof(void *);
constexpr size_t kCount = sizeof(DWORD);

// Room for the count, the text, and a whole 16-bit zero even after an odd byte count.
size_t blockSize(UINT bytes) {
  return (kPrefix + size_t(bytes) + sizeof(OLECHAR) + 1 + 15) / 16 * 16;
}

// Freed blocks of up to 32 KiB wait here to be handed out again, as Windows keeps them: a
// string freed twice finds its block already waiting and is let be, where the C library would
// stop the process. The oldest goes back to the allocator when a newer one needs its place.
class FreedBlocks {
public:
  unsigned char *take(size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry &e : entries_)
      if (e.block != nullptr && e.size == size)
        return std::exchange(e.block, nullptr);
    return nullptr;
  }

  void put(unsigned char *block, size_t size) {
    unsigned char *evicted = block;
    if (size <= kLargest) {
      std::lock_guard<std::mutex> lock(mutex_);
      if (on()) {
        for (const Entry &e : entries_)
          if (e.block == block)
            return;
        evicted = std::exchange(entries_[next_].block, block);
        entries_[next_].size = size;
        next_ = (next_ + 1) % kEntries;
      }
    }
    std::free(evicted);
  }

  // The library is unloaded or the process ends: what waits goes back, later frees go straight.
  void stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Entry &e : entries_)
      std::free(std::exchange(e.block, nullptr));
    state_ = kOff;
  }

  std::mutex &lock() { return mutex_; }

private:
  // OANOCACHE turns the cache off, as on Windows: every free then reaches the allocator, where
  // a memory checker sees it. Read on first use, the lock held.
  bool on() {
    if (state_ == kUnknown)
      state_ = std::getenv("OANOCACHE") == nullptr ? kOn : kOff;
    return state_ == kOn;
  }

  static constexpr size_t kEntries = 32;
  static constexpr size_t kLargest = 32 * 1024;
  enum State { kUnknown, kOn, kOff };
  struct Entry {
    unsigned char *block = nullptr;
    size_t size = 0;
  };
  std::mutex mutex_;
  Entry entries_[kEntries];
  size_t next_ = 0;
  State state_ = kUnknown;
};
static_assert(std::is_trivially_destructible<FreedBlocks>::value, "usable until the very end");

// Initialised as a constant: no first use for a fork in another thread to interrupt.
FreedBlocks freedBlocks;
struct StopAtUnload {
  ~StopAtUnload() { freedBlocks.stop(); }
} stopAtUnload;
// A fork keeps the lock out of other threads' hands, so that the child finds it free.
[[maybe_unused]] const bool kForkSafe =
    pthread_atfork([] { freedBlocks.lock().lock(); }, [] { freedBlocks.lock().unlock(); },
                   [] { freedBlocks.lock().unlock(); }) == 0;

// `bytes` of text, copied from `source` when it is not null; the terminator is always written.
BSTR allocateBytes(const void *source, UINT bytes) {
  size_t total = blockSize(bytes);
  unsigned char *block = freedBlocks.take(total);
  if (block == nullptr)
    block = static_cast<unsigned char *>(std::aligned_alloc(16, total));
  if (block == nullptr)
    return nullptr;
  DWORD count = bytes;
  std::memset(block, 0, kPrefix - kCount);
  std::memcpy(block + kPrefix - kCount, &count, kCount);
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
    freedBlocks.put(reinterpret_cast<unsigned char *>(bstrString) - kPrefix,
                    blockSize(SysStringByteLen(bstrString)));
}

UINT WINAPI SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr)
    return 0;
  DWORD count;
  std::memcpy(&count, reinterpret_cast<unsigned char *>(bstr) - kCount, kCount);
  return count;
}

UINT WINAPI SysStringLen(BSTR pbstr) { return SysStringByteLen(pbstr) / sizeof(OLECHAR); }

INT WINAPI SysReAllocStringLen(BSTR *pbstr, const OLECHAR *psz, UINT len) {
  if (pbstr == nullptr)
    return FALSE;
  // Text that fits the old block stays in it, as on Windows; it may be part of the old text.
  if (*pbstr != nullptr && len <= (0xFFFFFFFFu - 16) / sizeof(OLECHAR) &&
      blockSize(len * sizeof(OLECHAR)) <= blockSize(SysStringByteLen(*pbstr))) {
    UINT bytes = len * sizeof(OLECHAR);
    auto *text = reinterpret_cast<unsigned char *>(*pbstr);
    if (psz != nullptr)
      std::memmove(text, psz, bytes);
    DWORD count = bytes;
    std::memcpy(text - kCount, &count, kCount);
    std::memset(text + bytes, 0, sizeof(OLECHAR) + 1);
    return TRUE;
  }
  // The new text may be part of the old one: copied before the old is let go.
  BSTR copy = SysAllocStringLen(psz, len);
  if (copy == nullptr)
    return FALSE;
  SysFreeString(*pbstr);
  *pbstr = copy;
  return TRUE;
}

INT WINAPI SysReAllocString(BSTR *pbstr, const OLECHAR *psz) {
  if (pbstr == nullptr)
    return FALSE;
  if (psz == nullptr) { // no text: the old is let go, leaving a null BSTR
    SysFreeString(*pbstr);
    *pbstr = nullptr;
    return TRUE;
  }
  UINT length = 0;
  while (psz[length] != 0)
    ++length;
  return SysReAllocStringLen(pbstr, psz, length);
}

HRESULT WINAPI VarBstrCat(BSTR bstrLeft, BSTR bstrRight, LPBSTR pbstrResult) {
  if (pbstrResult == nullptr)
    return E_INVALIDARG;
  UINT left = SysStringByteLen(bstrLeft), right = SysStringByteLen(bstrRight);
  if (left > 0xFFFFFFF0u - right)
    return E_OUTOFMEMORY;
  BSTR result = SysAllocStringByteLen(nullptr, left + right);
  if (result == nullptr)
    return E_OUTOFMEMORY;
  auto *bytes = reinterpret_cast<unsigned char *>(result);
  if (left != 0)
    std::memcpy(bytes, bstrLeft, left);
  if (right != 0)
    std::memcpy(bytes + left, bstrRight, right);
  *pbstrResult = result;
  return S_OK;
}

// Locale 0 compares the bytes, odd counts included; any other by code unit, NORM_IGNORECASE
// folding ASCII letters. Null is the empty text.
HRESULT WINAPI VarBstrCmp(BSTR bstrLeft, BSTR bstrRight, LCID lcid, ULONG dwFlags) {
  if (lcid == 0) {
    UINT leftBytes = SysStringByteLen(bstrLeft), rightBytes = SysStringByteLen(bstrRight);
    UINT common = leftBytes < rightBytes ? leftBytes : rightBytes;
    int order = common == 0 ? 0 : std::memcmp(bstrLeft, bstrRight, common);
    if (order == 0)
      order = leftBytes < rightBytes ? -1 : leftBytes > rightBytes ? 1 : 0;
    return order < 0 ? VARCMP_LT : order > 0 ? VARCMP_GT : VARCMP_EQ;
  }
  UINT left = SysStringLen(bstrLeft), right = SysStringLen(bstrRight);
  for (UINT k = 0; k < left && k < right; ++k) {
    OLECHAR a = bstrLeft[k], b = bstrRight[k];
    if (dwFlags & NORM_IGNORECASE) {
      a = a >= u'A' && a <= u'Z' ? OLECHAR(a + 32) : a;
      b = b >= u'A' && b <= u'Z' ? OLECHAR(b + 32) : b;
    }
    if (a != b)
      return a < b ? VARCMP_LT : VARCMP_GT;
  }
  return left < right ? VARCMP_LT : left > right ? VARCMP_GT : VARCMP_EQ;
}

} // extern "C"
