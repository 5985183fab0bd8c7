// VARIANT values compared and copied, for COleVariant and COleSafeArray alike.
#pragma once

#include <velmora/win32.h>

namespace vlx::detail {

// Same type and equal as values: texts by content, arrays by shape, element type and elements;
// references and interfaces by pointer.
bool sameVariant(const VARIANT &a, const VARIANT &b);
// Same shape, same element type, and elements equal as values; two null arrays are the same.
bool sameArray(SAFEARRAY *a, SAFEARRAY *b);
// VariantCopy from a source that is only read (Windows declares it without const).
HRESULT copyValue(VARIANT *to, const VARIANT *from);

} // namespace vlx::detail
