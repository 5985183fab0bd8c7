// `vlx variant convert`: one VariantChangeTypeEx call on a value given as text, so that a
// conversion can be compared with Windows by hand.
#include "vlx/library/library_commands.h"

#include "vlx/core/commands.h"
#include "vlx/core/errors.h"
#include "vlx/core/named.h"
#include "vlx/core/whole_number.h"
#include "vlx/formats/variant_text.h"

#include <velmora/win32.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

namespace vlx::cli {
namespace {

const Named<VARTYPE> kTypes[] = {{VT_EMPTY, "empty"}, {VT_NULL, "null"}, {VT_I2, "i2"},
                                 {VT_I4, "i4"},       {VT_R4, "r4"},     {VT_R8, "r8"},
                                 {VT_CY, "cy"},       {VT_DATE, "date"}, {VT_BSTR, "bstr"},
                                 {VT_ERROR, "error"}, {VT_BOOL, "bool"}, {VT_UI1, "ui1"},
                                 {VT_I8, "i8"}};

const Named<HRESULT> kErrors[] = {{DISP_E_TYPEMISMATCH, "DISP_E_TYPEMISMATCH"},
                                  {DISP_E_OVERFLOW, "DISP_E_OVERFLOW"},
                                  {DISP_E_BADVARTYPE, "DISP_E_BADVARTYPE"},
                                  {E_INVALIDARG, "E_INVALIDARG"},
                                  {E_OUTOFMEMORY, "E_OUTOFMEMORY"}};

bool parseReal(const std::string &text, double &value) {
  const char *end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end;
}

std::u16string toWide(const std::string &text) {
  if (text.empty())
    return std::u16string();
  int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::u16string wide(size_t(units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), units);
  return wide;
}

// The source VARIANT, read strictly by the tool itself, not by the conversion under test.
bool makeSource(const std::string &text, VARTYPE vt, VARIANT &v) {
  VariantInit(&v);
  v.vt = vt;
  double real = 0;
  long long whole = 0;
  switch (vt) {
  case VT_EMPTY:
  case VT_NULL:
    return text.empty();
  case VT_I2:
    return parseWhole(text, v.iVal);
  case VT_I4:
    return parseWhole(text, v.lVal);
  case VT_UI1:
    return parseWhole(text, v.bVal);
  case VT_I8:
    return parseWhole(text, whole) && (v.llVal = whole, true);
  case VT_ERROR: {
    unsigned long code = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (!(hex ? parseWhole(text.substr(2), code, 16) : parseWhole(text, code)) ||
        code > 0xFFFFFFFFul)
      return false;
    v.scode = SCODE(uint32_t(code));
    return true;
  }
  case VT_R4:
    return parseReal(text, real) && std::fabs(real) <= 3.4028234663852886e38 &&
           (v.fltVal = float(real), true);
  case VT_R8:
  case VT_DATE:
    return parseReal(text, v.dblVal);
  case VT_CY:
    if (!parseReal(text, real) || !(std::fabs(real) < 922337203685477.0))
      return false;
    v.cyVal.int64 = std::llround(real * 10000);
    return true;
  case VT_BOOL:
    if (text != "true" && text != "false" && text != "-1" && text != "0")
      return false;
    v.boolVal = text == "true" || text == "-1" ? VARIANT_TRUE : VARIANT_FALSE;
    return true;
  case VT_BSTR: {
    std::u16string wide = toWide(text);
    v.bstrVal = SysAllocStringLen(wide.data(), UINT(wide.size()));
    return true;
  }
  default:
    return false;
  }
}

} // namespace

std::vector<std::string> variantTypeNames() { return namesOf(kTypes); }

void variantConvert(std::ostream &out, const std::string &value, const std::string &from,
                    const std::string &to, unsigned long lcid) {
  auto typeOf = [](const std::string &name) {
    if (auto vt = codeNamed(kTypes, name))
      return *vt;
    throw Failure("unknown type '" + name + "'", 2);
  };
  VARIANT source, result;
  if (!makeSource(value, typeOf(from), source))
    throw Failure("'" + value + "' is not a valid " + from + " value", 2);
  VariantInit(&result);
  HRESULT hr = VariantChangeTypeEx(&result, &source, LCID(lcid), 0, typeOf(to));
  VariantClear(&source);
  if (FAILED(hr)) {
    if (const char *name = nameOf(kErrors, hr))
      throw Failure(name);
    char code[16];
    std::snprintf(code, sizeof code, "%08lX", static_cast<unsigned long>(uint32_t(hr)));
    throw Failure(std::string("error 0x") + code);
  }
  out << printable(variantText(result)) << '\n';
  VariantClear(&result);
}

RunParsed addVariantCommands(CLI::App &app) {
  struct Args {
    std::string value, from, to;
    unsigned long lcid = 0;
  };
  auto args = std::make_shared<Args>();
  auto *variantCmd = addCommandGroup(app, "variant", "OLE Automation values");
  auto *convertCmd = variantCmd->add_subcommand(
      "convert", "Convert VALUE of type --from to type --to as VariantChangeTypeEx does and print "
                 "the result (bstr as text, bool as -1 or 0), or fail with the error's name, "
                 "e.g. DISP_E_OVERFLOW. VALUE is read strictly: integers in decimal (error also "
                 "0x...), numbers as C text, bool as true/false/-1/0, empty and null as ''.");
  convertCmd->add_option("VALUE", args->value, "The value as text")->required();
  convertCmd->add_option("--from", args->from, "Source type")
      ->required()
      ->check(CLI::IsMember(variantTypeNames()));
  convertCmd->add_option("--to", args->to, "Target type")
      ->required()
      ->check(CLI::IsMember(variantTypeNames()));
  convertCmd->add_option("--lcid", args->lcid, "Locale identifier, e.g. 0x0407 (default 0)");

  return [=](std::ostream &out, std::ostream &) {
    if (*convertCmd)
      variantConvert(out, args->value, args->from, args->to, args->lcid);
  };
}

} // namespace vlx::cli
