// The save/load exception the host throws, and the library's build date code.
#pragma once

#include <velmora/afx.h>
#include <velmora/export.h>

// Thrown by pointer by the host when saving or loading fails; the handler reads the fields and
// releases it with Delete().
class VLX_API suSaveLoadException_c : public CException {
  DECLARE_DYNAMIC(suSaveLoadException_c)

public:
  suSaveLoadException_c(int errorId, int errorInfo);
  // m_errorId is -1 for an exception built from a text.
  suSaveLoadException_c(CString text, int errorInfo);

  int m_errorId;
  int m_errorInfo;
  CString m_errorText;
};

// The short code yyddd from the library's tagged slot; 0 when the slot holds no digits.
VLX_API unsigned int su_getTaggedDateCode();
// Widens a short code to yyyyddd (years 00-09 to 20xx, 10-99 to 19xx); others pass through.
VLX_API unsigned int su_yyddd_to_yyyyddd(unsigned int code);
VLX_API unsigned int su_getFullDateCode();
