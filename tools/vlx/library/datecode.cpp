// `vlx datecode`: the build date code of the loaded library, widening, and stamping.
#include "vlx/library/library_commands.h"

#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/library/date_stamp.h"

#include <velmora/errors.h>
#include <velmora/win32.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

namespace vlx::cli {

void dateCodeShow(std::ostream &out) {
  HMODULE library = nullptr;
  char path[4096] = "?";
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&su_getTaggedDateCode), &library))
    GetModuleFileNameA(library, path, sizeof path);
  out << "library: " << printable(path) << '\n'
      << "short:   " << su_getTaggedDateCode() << '\n'
      << "full:    " << su_getFullDateCode() << '\n';
}

void dateCodeWiden(std::ostream &out, const std::string &code) {
  char *end = nullptr;
  errno = 0;
  unsigned long long value = std::strtoull(code.c_str(), &end, 10);
  if (code.empty() || code.find_first_not_of("0123456789") != std::string::npos ||
      errno == ERANGE || value > 0xFFFFFFFFull)
    throw Failure("bad date code '" + code + "': expected a decimal number below 2^32", 2);
  out << su_yyddd_to_yyyyddd(static_cast<unsigned int>(value)) << '\n';
}

void dateCodeStamp(std::ostream &out, std::ostream &err, const std::string &library,
                   const std::string &code) {
  stampDateCode(library, code);
  out << "stamped " << printable(library) << " with date code " << code << '\n';
  const std::string warning = dateCodeWarning(code);
  if (!warning.empty())
    err << "vlx: " << warning << std::endl;
}

RunParsed addDateCodeCommands(CLI::App &app) {
  struct Args {
    std::string code, library;
  };
  auto args = std::make_shared<Args>();
  auto *dateCmd = app.add_subcommand(
      "datecode", "Print the short (yyddd) and full (yyyyddd) build date code of the loaded "
                  "library.");
  auto *widen = dateCmd->add_subcommand("widen", "Widen a short code yyddd to yyyyddd.");
  widen->add_option("CODE", args->code, "The short code")->required();
  auto *stamp = dateCmd->add_subcommand(
      "stamp", "Rewrite the date code in a built library file in place (atomically).");
  stamp->add_option("LIBRARY", args->library, "The library file")->required();
  stamp->add_option("CODE", args->code, "1 to 45 decimal digits, e.g. 26339")->required();

  return [=](std::ostream &out, std::ostream &err) {
    if (*widen)
      dateCodeWiden(out, args->code);
    else if (*stamp)
      dateCodeStamp(out, err, args->library, args->code);
    else if (*dateCmd)
      dateCodeShow(out);
  };
}

} // namespace vlx::cli
