// Widening build date codes to four-digit years; reading the slot is checked on stamped copies.
#include <velmora/errors.h>

#include <gtest/gtest.h>

namespace {

// One case each side of every branch: zero, 20xx, 19xx by the quotient, pass-through.
TEST(DateCode, Widening) {
  const struct {
    unsigned int code, widened;
  } cases[] = {{0, 0},           {1, 2000001},
               {9365, 2009365},  {9999, 1909999}, // not a valid day: the quotient is 99
               {10001, 1910001}, {99999, 1999999},
               {100000, 100000}, {4294967295u, 4294967295u}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(su_yyddd_to_yyyyddd(c.code), c.widened);
  }
}

} // namespace
