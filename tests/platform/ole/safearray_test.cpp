// SAFEARRAY calls and arrays in VARIANTs: the cases the Windows check also runs against oleaut32.
#include "support/safearray_cases.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

using namespace vlx::test;

namespace {

TEST(OleSafeArray, SharedCases) {
  for (const SafeArrayCase &c : safeArrayCases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.run(), c.expected);
  }
}

// What Windows leaves to chance: sizes that do not fit are refused rather than wrapped, and an
// array without storage gives no pointer into it.
TEST(OleSafeArray, RefusesSizesThatDoNotFit) {
  SAFEARRAYBOUND huge[3] = {{0x10000000, 0}, {0x10000000, 0}, {0x10000000, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 3, huge), nullptr) << "the element count overflows";
  EXPECT_EQ(SafeArrayCreate(VT_R8, 2, huge), nullptr) << "2^59 bytes are not even asked for";

  SAFEARRAYBOUND small[2] = {{0x100000, 0}, {2, 0}};
  SAFEARRAY *sa = SafeArrayCreate(VT_UI1, 2, small);
  ASSERT_NE(sa, nullptr);
  SAFEARRAYBOUND tooMany = {0xFFFFFFFF, 0};
  EXPECT_EQ(SafeArrayRedim(sa, &tooMany), E_OUTOFMEMORY);
  EXPECT_EQ(sa->rgsabound[0].cElements, 2u) << "a refused redim changes nothing";
  EXPECT_EQ(SafeArrayDestroy(sa), S_OK);
}

// A 64 MiB array of bytes whose data past its first page is unreadable, destroyed (after a
// shrink to 16 elements when `shrink`): 0 when nothing touched the dropped elements, which would
// end the process.
int destroyUntouched(bool shrink) {
  SAFEARRAYBOUND bound = {64u << 20, 0};
  SAFEARRAY *sa = SafeArrayCreate(VT_UI1, 1, &bound);
  if (!sa)
    return 2;
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<uintptr_t>(sa->pvData);
  const uintptr_t from = (start + 2 * page - 1) / page * page,
                  to = (start + bound.cElements) / page * page;
  if (mprotect(reinterpret_cast<void *>(from), to - from, PROT_NONE) != 0)
    return 3;
  SAFEARRAYBOUND smaller = {16, 0};
  if (shrink && SafeArrayRedim(sa, &smaller) != S_OK)
    return 4;
  return SafeArrayDestroy(sa) == S_OK ? 0 : 5;
}

// An array of plain numbers is freed, or shrunk, without a look at the elements it drops: the
// untouched pages of a huge array are never brought in.
TEST(OleSafeArray, DroppedPlainElementsAreNotTouched) {
  EXPECT_EXIT(_exit(destroyUntouched(false)), ::testing::ExitedWithCode(0), "");
  EXPECT_EXIT(_exit(destroyUntouched(true)), ::testing::ExitedWithCode(0), "");
}

TEST(OleSafeArray, PtrOfIndexWithoutDataFailsSafely) {
  SAFEARRAY *bare = nullptr;
  ASSERT_EQ(SafeArrayAllocDescriptor(1, &bare), S_OK);
  bare->cbElements = 4;
  bare->rgsabound[0] = {3, 0};
  LONG at = 2;
  void *p = &at;
  EXPECT_EQ(SafeArrayPtrOfIndex(bare, &at, &p), E_UNEXPECTED) << "no storage to point into";
  EXPECT_EQ(SafeArrayDestroy(bare), S_OK);
}

} // namespace
