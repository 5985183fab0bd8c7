// The save/load exception (its fields from either constructor, thrown by pointer and
// type-tested) and the widening of build date codes; reading the code is checked on stamped copies.
#include <velmora/errors.h>

#include <gtest/gtest.h>

namespace {

TEST(SaveLoadException, FieldsAndTypeTestsAfterThrowingByPointer) {
  // The text of the numbers constructor is a default CString, empty by construction.
  suSaveLoadException_c numbers(12, 3);
  EXPECT_EQ(numbers.m_errorId, 12);
  EXPECT_EQ(numbers.m_errorInfo, 3);
  try {
    throw new suSaveLoadException_c(CString("bad header"), 7);
  } catch (CException *e) {
    EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CException)));
    ASSERT_TRUE(e->IsKindOf(RUNTIME_CLASS(suSaveLoadException_c)));
    auto *saveLoad = static_cast<suSaveLoadException_c *>(e);
    EXPECT_EQ(saveLoad->m_errorId, -1); // built from a text
    EXPECT_EQ(saveLoad->m_errorInfo, 7);
    EXPECT_EQ(saveLoad->m_errorText, "bad header");
    e->Delete();
  }
}

// One case each side of every branch: zero, 20xx, 19xx by the quotient, pass-through. 9999 is no
// valid day: the quotient is 99.
TEST(DateCode, Widening) {
  const struct {
    unsigned int code, widened;
  } cases[] = {{0, 0}, {9365, 2009365}, {9999, 1909999}, {99999, 1999999}, {100000, 100000}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(su_yyddd_to_yyyyddd(c.code), c.widened);
  }
}

} // namespace
