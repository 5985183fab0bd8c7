// Items of the object model's collections, looked up here where LibreOffice's own look-up would
// end soffice: by position or name, this process's own workbooks in a shared office, and a
// workbook's worksheets kept apart from its chart sheets.
#pragma once

#include <com/sun/star/uno/Any.hxx>
#include <ooo/vba/XCollection.hpp>

#include <vector>

namespace vlx::calc {

// A collection's item by position or name. LibreOffice's own look-up of a missing sheet ends
// soffice, so the index is checked here first.
css::uno::Any guardedItem(const css::uno::Reference<ooo::vba::XCollection> &items,
                          const css::uno::Any &index);

// In an office shared with other processes, Workbooks holds only this process's own: one by
// position or name.
css::uno::Any ownWorkbook(const css::uno::Any &index);

// A collection member: the collection without an index, else one of its items.
css::uno::Any indexed(const css::uno::Any &collection, const css::uno::Any &index);

// The positions (from 1) of a workbook's worksheets, or of its chart sheets. LibreOffice keeps a
// file's chart sheet as a sheet without cells that holds one chart, and that is what a chart
// sheet is taken to be here.
std::vector<sal_Int32> sheetPositions(const css::uno::Reference<css::uno::XInterface> &document,
                                      bool charts);

// An item of a workbook's worksheets or chart sheets, by position among them or by name.
css::uno::Any sheetItem(const css::uno::Reference<ooo::vba::XCollection> &items,
                        const std::vector<sal_Int32> &positions, const css::uno::Any &index);

// Worksheets or Charts of a workbook: the collection without an index, else one of its items.
css::uno::Any sheetsOfKind(const css::uno::Reference<css::uno::XInterface> &document,
                           const css::uno::Any &collection, const css::uno::Any &index,
                           bool charts);

} // namespace vlx::calc
