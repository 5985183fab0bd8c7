// The save/load exception: two constructors and its run-time class record.
#include <velmora/errors.h>

// Not serialisable, and not entered in any list of classes: type tests go through the base chain.
IMPLEMENT_DYNAMIC(suSaveLoadException_c, CException)

suSaveLoadException_c::suSaveLoadException_c(int errorId, int errorInfo)
    : m_errorId(errorId), m_errorInfo(errorInfo) {}

suSaveLoadException_c::suSaveLoadException_c(CString text, int errorInfo)
    : m_errorId(-1), m_errorInfo(errorInfo), m_errorText(text) {}
