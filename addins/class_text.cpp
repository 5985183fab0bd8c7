// Class identifier text: the system's braced form, narrowed by the run-time library.
#include "addins/class_text.h"

namespace vlx {

CString classText(const GUID &clsid) {
  char text[256] = {};
  LPOLESTR wide = nullptr;
  if (SUCCEEDED(StringFromCLSID(clsid, &wide))) {
    wcstombs(text, wide, sizeof text);
    CoTaskMemFree(wide);
  }
  return CString(text);
}

} // namespace vlx
