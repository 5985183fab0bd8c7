// What LibreOffice passes over in silence when it opens a workbook: a sheet whose part is
// missing from the file, or cut short, opens empty or half full. The file is read again through
// the office's own zip reader, so that such a workbook is known to be damaged.
#pragma once

#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <string>

namespace vlx::calc {

// What is damaged in the Office Open XML workbook at path, whose file URL is url ("its sheet
// 'Data' (xl/worksheets/sheet2.xml) is missing"), or empty when its sheets are whole or it is not
// such a workbook.
std::string packageDamage(const css::uno::Reference<css::uno::XComponentContext> &office,
                          const rtl::OUString &url, const std::string &path);

} // namespace vlx::calc
