// SAFEARRAY calls and arrays in VARIANTs: the cases the Windows check also runs against oleaut32.
#include "support/safearray_cases.h"

#include <gtest/gtest.h>

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
