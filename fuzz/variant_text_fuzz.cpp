// Text-to-number and text-to-date conversion (VariantChangeTypeEx from VT_BSTR) on any 16-bit
// text: never a crash, and an integer result always agrees with the double the same text gives.
#include <velmora/win32.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  VARIANT text;
  V_VT(&text) = VT_BSTR;
  V_BSTR(&text) = SysAllocStringByteLen(reinterpret_cast<const char *>(data), UINT(size & ~1u));
  static const VARTYPE targets[] = {VT_I2, VT_I4,   VT_I8,   VT_UI1,   VT_R4,  VT_R8,
                                    VT_CY, VT_BOOL, VT_DATE, VT_EMPTY, VT_BSTR};
  for (LCID lcid : {LCID(0), LCID(0x0407)}) {
    VARIANT results[sizeof targets / sizeof targets[0]];
    HRESULT codes[sizeof targets / sizeof targets[0]];
    for (size_t i = 0; i < sizeof targets / sizeof targets[0]; ++i) {
      VariantInit(&results[i]);
      codes[i] = VariantChangeTypeEx(&results[i], &text, lcid, 0, targets[i]);
    }
    // The same digits: an I4 is the R8 rounded to an integer.
    if (SUCCEEDED(codes[1])) {
      if (FAILED(codes[5]) || std::fabs(double(V_I4(&results[1])) - V_R8(&results[5])) > 0.5)
        std::abort();
    }
    for (VARIANT &result : results)
      VariantClear(&result);
  }
  VariantClear(&text);
  return 0;
}
