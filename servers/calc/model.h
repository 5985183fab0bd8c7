// The spreadsheet objects over LibreOffice's Excel-compatible UNO model: their kinds, their
// members by DISPID and name, and the calls behind each member.
#pragma once

#include "office.h"

#include <com/sun/star/uno/Any.hxx>
#include <com/sun/star/uno/XInterface.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace vlx::calc {

struct HeldCells;

enum class Kind {
  Application,
  Workbooks,
  Workbook,
  Worksheets,
  Worksheet,
  Range,
  Names,
  Name,
  Window,
  Windows,
  Pane,
  Panes,
  Sheets, // every sheet of a workbook, chart sheets too
  Charts, // a workbook's chart sheets
};

const char *kindName(Kind kind);

// One spreadsheet object: its kind and the UNO object behind it. The application has none of
// its own: it is the office's, whichever office runs at the time of the call.
struct Object {
  Kind kind;
  css::uno::Reference<css::uno::XInterface> ref;
  // The document the object lives in, where known: LibreOffice's objects of a closed document
  // fail without saying why.
  css::uno::Reference<css::uno::XInterface> document;
  // A range's cells in the sheet API, found at its first value read or write and kept with it.
  mutable std::shared_ptr<HeldCells> cells = nullptr;
};

// Arguments in parameter order; an omitted argument is a void Any.
using Args = std::vector<css::uno::Any>;

struct Member {
  const char *name;
  int32_t dispid;
  // Kind of the object answered by get, when it answers one (the Any then holds an interface).
  std::optional<Kind> answers;
  short minArgs;
  short maxArgs;
  // Read or call; null when the member can only be written.
  css::uno::Any (*get)(const Object &self, const Args &args);
  // Write (the value comes after the arguments); null when read-only.
  void (*put)(const Object &self, const Args &args, const css::uno::Any &value);
};

// model.cpp, beside the tables: the document of a range, its own or for the application's
// ranges the active one.
css::uno::Reference<css::uno::XInterface> rangeDocument(const Object &self);
// Whether the member writes a range's cell values, which alone keep dates and currency as such
// and take arrays.
bool writesCellValues(const Member &member);

// The member of a kind with this DISPID, or null.
const Member *findMember(Kind kind, int32_t dispid);
// The member of a kind with this name, compared without regard to ASCII case, or null.
const Member *findMember(Kind kind, std::string_view name);

// invoke.cpp: reads or calls a member; a put when value is given. Every failure, from LibreOffice
// or from the office going away, becomes a CalcError.
css::uno::Any invoke(const Member &member, const Object &self, const Args &args,
                     const css::uno::Any *value = nullptr);

// The object that a member of self answered.
Object answerObject(const Member &member, const Object &self, const css::uno::Any &answer);

} // namespace vlx::calc
