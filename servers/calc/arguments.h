// A member's arguments, read as what the member takes.
#pragma once

#include "model.h"

namespace vlx::calc {

// Argument i, or a void Any when fewer were given.
const css::uno::Any &arg(const Args &args, size_t i);

// Argument i as a text, empty when omitted; a CalcError saying what takes a text otherwise.
OUString textArg(const Args &args, size_t i, const char *what);

// Argument i as a Boolean (a number: true unless 0), false when omitted; a CalcError saying what
// takes a Boolean otherwise.
bool boolArg(const Args &args, size_t i, const char *what);

// Argument i as a whole number, 0 when omitted; a CalcError saying what takes a number otherwise.
sal_Int32 numberArg(const Args &args, size_t i, const char *what);

} // namespace vlx::calc
