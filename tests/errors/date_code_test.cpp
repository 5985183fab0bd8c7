// Build date codes: the code as built and the widening to four-digit years.
#include <velmora/errors.h>

#include <gtest/gtest.h>

namespace {

TEST(DateCode, AsBuilt) {
  EXPECT_EQ(su_getTaggedDateCode(), 97257u);
  EXPECT_EQ(su_getFullDateCode(), 1997257u);
}

TEST(DateCode, Widening) {
  const struct {
    unsigned int code, widened;
  } cases[] = {{0, 0},
               {1, 2000001},
               {5032, 2005032},
               {9365, 2009365},
               {9999, 1909999}, // not a valid day: the quotient is 99
               {10001, 1910001},
               {95365, 1995365},
               {96001, 1996001},
               {97257, 1997257},
               {99366, 1999366},
               {99999, 1999999},
               {100000, 100000},
               {1997257, 1997257},
               {4294967295u, 4294967295u}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(su_yyddd_to_yyyyddd(c.code), c.widened);
  }
}

} // namespace
