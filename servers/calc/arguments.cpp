// A member's arguments: see arguments.h.
#include "arguments.h"

namespace vlx::calc {

using css::uno::Any;

const Any &arg(const Args &args, size_t i) {
  static const Any none;
  return i < args.size() ? args[i] : none;
}

OUString textArg(const Args &args, size_t i, const char *what) {
  OUString text;
  if (arg(args, i).hasValue() && !(arg(args, i) >>= text))
    throw CalcError(Fault::BadArgument, std::string(what) + " takes a text");
  return text;
}

bool boolArg(const Args &args, size_t i, const char *what) {
  bool flag = false;
  double number = 0;
  if (!arg(args, i).hasValue() || (arg(args, i) >>= flag))
    return flag;
  if (!(arg(args, i) >>= number))
    throw CalcError(Fault::BadArgument, std::string(what) + " takes a Boolean");
  return number != 0;
}

sal_Int32 numberArg(const Args &args, size_t i, const char *what) {
  double number = 0;
  if (arg(args, i).hasValue() && !(arg(args, i) >>= number))
    throw CalcError(Fault::BadArgument, std::string(what) + " takes a number");
  return static_cast<sal_Int32>(number);
}

} // namespace vlx::calc
