// The shared VariantChangeType table against the system's own oleaut32: Windows is the reference
// that the POSIX conversion follows.
#include "check.h"
#include "support/var_family_cases.h"

#include <cstdio>
#include <cstring>

namespace vlx::check {

namespace {

struct Known {
  VARTYPE from;
  const char *value;
  VARTYPE to;
  LCID lcid;
  const char *reason;
};

// Wine's oleaut32 differs from what Windows documents here: not judged under Wine.
const Known wineDeviations[] = {
    {VT_BSTR, "1e308", VT_R8, 0, "Wine: text to double loses the last bit of large numbers"},
    {VT_BSTR, "123456789012345678901234567890", VT_R8, 0,
     "Wine: text to double loses the last bit of long digit strings"},
    {VT_I8, "922337203685477", VT_CY, 0,
     "Wine: refuses values below the currency limit of 922337203685477.5807"},
    {VT_R8, "123456789.123456789", VT_DECIMAL, 0, "Wine: a double keeps 16 digits in a decimal"},
    {VT_BOOL, "-1", VT_DECIMAL, 0, "Wine: True becomes decimal 1"},
    {VT_DECIMAL, "-2.5000000000000000000000000001", VT_I4, 0,
     "Wine: a decimal goes to an integer through a double"},
    {VT_BSTR, "-0.000000000000000000000000000051", VT_DECIMAL, 0,
     "Wine: text gives a decimal of more than 28 places"},
};

// Where the POSIX conversion differs from Windows on purpose: reported, not failed.
const Known tableDifferences[] = {
    {VT_BOOL, "-1", VT_BSTR, 0x0407,
     "VARIANT_LOCALBOOL: Windows names True in the locale's language; POSIX uses English"},
};

template <size_t N> const Known *lookUp(const Known (&list)[N], const test::VariantCase &c) {
  for (const Known &known : list)
    if (known.from == c.from && known.to == c.to && known.lcid == c.lcid &&
        !std::strcmp(known.value, c.value))
      return &known;
  return nullptr;
}

} // namespace

void checkVariants() {
  const bool wine = underWine();
  for (const test::VariantCase &c : test::variantCases()) {
    std::string what = std::string("VariantChangeTypeEx(") + c.value + ", " +
                       std::to_string(c.from) + " -> " + std::to_string(c.to) + ", flags " +
                       std::to_string(c.flags) + ", lcid " + std::to_string(c.lcid) + ")";
    std::string got = test::convertCase(c);
    if (const Known *known = lookUp(tableDifferences, c)) {
      if (got != c.expected)
        std::printf("differs on purpose: %s gives %s here (%s)\n", what.c_str(), got.c_str(),
                    known->reason);
      continue;
    }
    if (wine && lookUp(wineDeviations, c) != nullptr)
      continue;
    EXPECT_EQ(got, std::string(c.expected), what);
  }
}

// The Var* family's table against the system's oleaut32; Wine's own departures from Windows
// are not judged under Wine.
void checkVarFamily() {
  static const char *const wineFamilyDeviations[] = {
      "cyMul(0.0001, 0.5)",                // Wine multiplies currency through doubles
      "cyMul(0.0003, 0.5)",                //
      "decBinary(VarDecAdd, \"0.1\", \"-0.1\")", // Wine: a negative zero
      "decBinary(VarDecAdd, \"bad\", \"1\")",    // Wine adds an invalid decimal
      "decRound(\"1.2345\", 2)",           // Wine rounds on the wrong digit
      "decRound(\"1.225\", 2)",            //
      "fromUdate(2000, 13, 1, 0, VAR_VALIDDATE)", // Wine carries month 13 all the same
  };
  const bool wine = underWine();
  for (const test::VarFamilyCase &c : test::varFamilyCases()) {
    bool deviates = false;
    for (const char *known : wineFamilyDeviations)
      deviates = deviates || std::strcmp(known, c.what) == 0;
    if (wine && deviates)
      continue;
    EXPECT_EQ(c.run(), std::string(c.expected), c.what);
  }
}

} // namespace vlx::check
