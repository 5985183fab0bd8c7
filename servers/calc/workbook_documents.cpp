// The documents behind workbook objects: see workbook_documents.h.
#include "workbook_documents.h"
#include "uno_names.h"
#include "cell_formats.h"
#include "load.h"
#include "office.h"

#include <com/sun/star/container/XEnumeration.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/frame/XTitle.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <ooo/vba/excel/XWorkbook.hpp>
#include <osl/file.hxx>

#include <vector>

namespace vlx::calc {

namespace vba = ooo::vba;
namespace xl = ooo::vba::excel;

std::set<Reference<css::uno::XInterface>> &closedDocuments() {
  static std::set<Reference<css::uno::XInterface>> closed;
  return closed;
}

std::map<Reference<css::uno::XInterface>, Reference<css::uno::XInterface>> &documents() {
  static std::map<Reference<css::uno::XInterface>, Reference<css::uno::XInterface>> opened;
  return opened;
}

Any workbookFor(const Reference<css::uno::XInterface> &model) {
  Office &office = Office::instance();
  auto context = office.context();
  css::uno::Sequence<Any> args(2);
  args.getArray()[0] <<= office.application();
  args.getArray()[1] <<= model;
  Reference<xl::XWorkbook> book(context->getServiceManager()->createInstanceWithArgumentsAndContext(
                                    "ooo.vba.excel.Workbook", args, context),
                                UNO_QUERY);
  if (!book.is())
    throw CalcError(Fault::NoMember, "LibreOffice has no Excel-compatible object model");
  return Any(book);
}

Any bookOf(const Reference<css::frame::XModel> &model) {
  Any book = workbookFor(model);
  documents()[Reference<css::uno::XInterface>(book, UNO_QUERY)] = model;
  return book;
}

Reference<css::uno::XInterface> findDocument(const Reference<vba::XDocumentBase> &book) {
  OUString fullName = book->getFullName();
  auto components = Office::instance().desktop()->getComponents()->createEnumeration();
  while (components->hasMoreElements()) {
    Reference<css::frame::XModel> model(components->nextElement(), UNO_QUERY);
    Reference<css::frame::XTitle> title(model, UNO_QUERY);
    // Compared as paths: a URL may spell one name in more than one way.
    OUString path;
    if (model.is() && (model->getURL().isEmpty()
                           ? title.is() && title->getTitle() == fullName
                           : osl::FileBase::getSystemPathFromFileURL(model->getURL(), path) ==
                                     osl::FileBase::E_None &&
                                 path == fullName))
      return model;
  }
  return nullptr;
}

void closeEveryWorkbook() {
  std::vector<Reference<css::uno::XInterface>> books;
  auto components = Office::instance().desktop()->getComponents()->createEnumeration();
  while (components->hasMoreElements()) {
    Reference<css::lang::XServiceInfo> info(components->nextElement(), UNO_QUERY);
    if (info.is() && info->supportsService("com.sun.star.sheet.SpreadsheetDocument"))
      books.emplace_back(info, UNO_QUERY);
  }
  for (const auto &book : books) {
    closeDocument(book);
    closedDocuments().insert(book);
    forgetDocument(book);
  }
  documents().clear();
}

bool isClosed(const Reference<css::uno::XInterface> &document) {
  try {
    Reference<css::frame::XModel>(document, UNO_QUERY_THROW)->getURL();
    return false;
  } catch (const css::lang::DisposedException &) {
    return true;
  } catch (const css::uno::RuntimeException &) {
    return false;
  }
}

} // namespace vlx::calc
