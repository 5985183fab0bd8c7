// The IDispatch of each spreadsheet object: DISPIDs and names to members, VARIANT arguments to
// UNO calls, failures to dispatch exceptions.
#pragma once

#include "model.h"

#include <velmora/win32.h>

namespace vlx::calc {

// What the host sees as the exception's source.
extern const char16_t kErrorSource[];

// The SCODE a host would get from Excel for the same kind of failure, where there is one.
SCODE faultCode(Fault fault);

// A new dispatch object for a spreadsheet object, holding one reference for the caller.
IDispatch *newDispatch(Object object);

// The spreadsheet object behind one of this server's dispatch objects, or null for any other.
const Object *objectOf(IDispatch *dispatch);

} // namespace vlx::calc
