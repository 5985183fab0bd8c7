// AfxGetClassIDFromString: the narrow text is widened and read as OLE reads it.
#include <velmora/afx/class_id.h>

#include <vector>

HRESULT AfxGetClassIDFromString(LPCTSTR lpsz, LPCLSID lpClsID) {
  if (!lpsz || !lpClsID)
    return E_INVALIDARG;
  size_t length = vlx::mbstowcs(nullptr, lpsz, 0);
  if (length == static_cast<size_t>(-1))
    return CO_E_CLASSSTRING;
  std::vector<OLECHAR> wide(length + 1);
  vlx::mbstowcs(wide.data(), lpsz, wide.size());
  return lpsz[0] == '{' ? CLSIDFromString(wide.data(), lpClsID)
                        : CLSIDFromProgID(wide.data(), lpClsID);
}
