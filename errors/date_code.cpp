// The build date code: a tagged slot in writable data that a release can stamp in place.
#include <velmora/errors.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// The tag marks where the digits begin and the blanks give a longer code room; the whole slot
// keeps its length when stamped. External linkage and `used` keep it in writable data, whole.
namespace vlx {
#if defined(__GNUC__)
__attribute__((used))
#endif
char dateCodeSlot[60] = "$?153#548834?$97257                                        ";
} // namespace vlx

namespace {

constexpr int tagLength = 14;
unsigned int cachedCode = 0;

// The slot as it is in memory now: never a value the compiler folded from the initialiser.
const char *slotText() {
  const char *text = vlx::dateCodeSlot;
#if defined(__GNUC__)
  asm volatile("" : "+r"(text));
#endif
  return text;
}

// atol as on Windows, where long has 32 bits and a number out of its range gives the nearest
// end of it; the same on every system, whatever the width of its long.
int32_t atol32(const char *text) {
  const long long value = std::strtoll(text, nullptr, 10);
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

} // namespace

unsigned int su_getTaggedDateCode() {
  if (cachedCode != 0)
    return cachedCode;
  CString text(slotText());
  text.TrimRight();
  cachedCode = static_cast<unsigned int>(atol32(text.Mid(tagLength)));
  return cachedCode;
}

unsigned int su_yyddd_to_yyyyddd(unsigned int code) {
  if (code == 0)
    return 0;
  // By one hundred: the quotient holds the year and the day's hundreds digit.
  unsigned int q = code / 100;
  if (q >= 1000)
    return code;
  return q >= 96 ? code + 1900000 : code + 2000000;
}

unsigned int su_getFullDateCode() { return su_yyddd_to_yyyyddd(su_getTaggedDateCode()); }
