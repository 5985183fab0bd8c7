// The documents behind workbook objects: which workbook object a document has, which document a
// workbook answered by LibreOffice is, and which were closed here.
#pragma once

#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/uno/Any.hxx>
#include <ooo/vba/XDocumentBase.hpp>

#include <map>
#include <set>

namespace vlx::calc {

// The documents closed through a workbook here: LibreOffice's objects of a closed document may
// still answer, with nothing.
std::set<css::uno::Reference<css::uno::XInterface>> &closedDocuments();

// The documents of the workbooks opened or added here, by workbook object.
std::map<css::uno::Reference<css::uno::XInterface>, css::uno::Reference<css::uno::XInterface>> &
documents();

// The workbook object of a document. (The document's own VBAGlobals answers the first
// document as its ThisWorkbook.)
css::uno::Any workbookFor(const css::uno::Reference<css::uno::XInterface> &model);

// The workbook object of a document this process opened or added.
css::uno::Any bookOf(const css::uno::Reference<css::frame::XModel> &model);

// The document of a workbook that LibreOffice answered: the open document whose file or,
// before it has one, whose title is the workbook's.
css::uno::Reference<css::uno::XInterface>
findDocument(const css::uno::Reference<ooo::vba::XDocumentBase> &book);

// Workbooks.Close in an office this process has to itself: every workbook closes before the call
// returns, changes lost.
void closeEveryWorkbook();

// Whether a document was closed: its model then refuses every call as disposed.
bool isClosed(const css::uno::Reference<css::uno::XInterface> &document);

} // namespace vlx::calc
