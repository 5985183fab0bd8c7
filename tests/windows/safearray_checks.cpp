// The shared SAFEARRAY cases against the system's own oleaut32, the reference the POSIX arrays
// follow.
#include "check.h"
#include "support/safearray_cases.h"

namespace vlx::check {

void checkSafeArrays() {
  for (const test::SafeArrayCase &c : test::safeArrayCases())
    EXPECT_EQ(c.run(), std::string(c.expected), std::string("SAFEARRAY case: ") + c.name);
}

} // namespace vlx::check
