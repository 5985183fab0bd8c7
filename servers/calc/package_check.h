// What LibreOffice passes over in silence when it opens a workbook: a sheet whose part is
// missing from the file, or cut short, opens empty or half full; and what its cells were before
// LibreOffice changed them (file_cells.h). The file is read again through the office's own zip
// reader, so that such a workbook is known to be damaged, and those cells known.
#pragma once

#include "file_cells.h"
#include <com/sun/star/uno/XComponentContext.hpp>

#include <rtl/ustring.hxx>

#include <string>
#include <vector>

namespace vlx::calc {

struct PackageCheck {
  // What is damaged ("its sheet 'Data' (xl/worksheets/sheet2.xml) is missing"), or empty when
  // the sheets are whole or the file is not such a workbook.
  std::string damage;
  // The cells of each worksheet that LibreOffice changes as it loads them (none when damaged).
  std::vector<SheetCells> cells;
};

// Reads the Office Open XML workbook at path, whose file URL is url, again.
PackageCheck checkPackage(const css::uno::Reference<css::uno::XComponentContext> &office,
                          const rtl::OUString &url, const std::string &path);

} // namespace vlx::calc
