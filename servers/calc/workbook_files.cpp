// A workbook's file: see workbook_files.h.
#include "workbook_files.h"
#include "uno_names.h"
#include "arguments.h"
#include "calculation.h"
#include "cell_formats.h"
#include "load.h"
#include "workbook_documents.h"

namespace vlx::calc {

namespace {

// LibreOffice's Save asks for a name when there is none, and its SaveAs writes the Excel 97
// format whatever the name: both go to the document itself here.
// A held calculation (see holdCalculation) is saved as it is only in OOXML files, which do not
// record it; ODF and Excel 97 files would open with calculation off, so it resumes before.
void beforeSaving(const Object &self, const OUString &url) {
  if (!url.endsWithIgnoreAsciiCase(".xlsx") && !url.endsWithIgnoreAsciiCase(".xlsm"))
    resumeCalculation(self.document);
}

// The export filter for a file name's extension, as Excel picks the format from it.
OUString filterFor(const OUString &url) {
  static const std::pair<const char *, const char *> filters[] = {
      {".xlsx", "Calc MS Excel 2007 XML"},
      {".xlsm", "Calc MS Excel 2007 VBA XML"},
      {".xls", "MS Excel 97"},
      {".ods", "calc8"},
      {".csv", "Text - txt - csv (StarCalc)"},
  };
  for (const auto &[extension, filter] : filters)
    if (url.endsWithIgnoreAsciiCase(OUString::createFromAscii(extension)))
      return OUString::createFromAscii(filter);
  throw CalcError(Fault::BadArgument, "cannot tell the file format from '" + toString(url) +
                                          "': name it .xlsx, .xlsm, .xls, .ods or .csv");
}

} // namespace

Any openWorkbook(const Args &args) {
  OpenRequest request;
  request.path = textArg(args, 0, "FileName");
  if (request.path.isEmpty())
    throw CalcError(Fault::BadArgument, "a file name is required");
  request.readOnly = boolArg(args, 2, "ReadOnly");
  request.format = numberArg(args, 3, "Format");
  if (arg(args, 4).hasValue())
    request.password = textArg(args, 4, "Password");
  request.delimiter = textArg(args, 8, "Delimiter");
  request.corruptLoad = numberArg(args, 14, "CorruptLoad");
  return bookOf(openDocument(request));
}

Reference<css::frame::XStorable> storable(const Object &self) {
  Reference<css::frame::XStorable> doc(self.document, UNO_QUERY);
  if (!doc.is())
    throw CalcError(Fault::NoMember, "the workbook's document is unknown");
  return doc;
}

Any saveWorkbook(const Object &self, const Args &) {
  auto doc = storable(self);
  beforeSaving(self, doc->getLocation());
  saveDocument(self.document);
  return Any();
}

Any saveWorkbookAs(const Object &self, const Args &args) {
  storable(self);
  OUString path = textArg(args, 0, "FileName");
  if (path.isEmpty())
    throw CalcError(Fault::BadArgument, "a file name is required");
  beforeSaving(self, path);
  saveDocumentAs(self.document, path, filterFor(path));
  return Any();
}

Any closeWorkbook(const Object &self, const Args &args) {
  storable(self);
  if (boolArg(args, 0, "SaveChanges")) {
    if (textArg(args, 1, "FileName").isEmpty())
      saveWorkbook(self, {});
    else
      saveWorkbookAs(self, {arg(args, 1)});
  }
  closeDocument(self.document);
  documents().erase(self.ref);
  closedDocuments().insert(self.document);
  forgetDocument(self.document);
  return Any();
}

} // namespace vlx::calc
