// Widening build date codes to four-digit years; reading the slot is checked on stamped copies.
#include <velmora/errors.h>

#include <gtest/gtest.h>

namespace {

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
