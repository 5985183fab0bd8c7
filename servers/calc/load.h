// Opening and saving documents without a dialog, and the lock that keeps two writers of one
// workbook apart.
#pragma once

#include "office.h"

#include <com/sun/star/frame/XModel.hpp>

#include <optional>
#include <vector>

namespace vlx::calc {

// The file URL of a local path, relative to the working directory; every character of the name
// is the file's own (no "file:" or "private:" scheme is read out of it).
OUString fileUrl(const OUString &path);

// What a host asked for in Workbooks.Open.
struct OpenRequest {
  OUString path;
  bool readOnly = false;
  std::optional<OUString> password;
  sal_Int32 corruptLoad = 0; // 0 normal (a damaged file fails), 1 repair, 2 extract data
  sal_Int32 format = 0;      // text files: 1 tabs, 2 commas, 3 spaces, 4 semicolons, 6 Delimiter
  OUString delimiter;
};

// Opens a workbook; every question LibreOffice would ask is answered here, and a file that
// cannot be opened fails with a CalcError naming the cause. A workbook that another process of
// this library writes, or that is not writable, opens read-only.
css::uno::Reference<css::frame::XModel> openDocument(const OpenRequest &request);
// A new, empty workbook.
css::uno::Reference<css::frame::XModel> newDocument();

// Whether a document was opened read-only, or is so now.
bool isReadOnly(const css::uno::Reference<css::uno::XInterface> &document);
// What is damaged in the file of a document opened here (it is then read-only), or empty.
std::string damageOf(const css::uno::Reference<css::uno::XInterface> &document);
// Writes a document to its file: into a private file first, then put in place in one rename, so
// that a killed save leaves the old file and nothing beside it.
void saveDocument(const css::uno::Reference<css::uno::XInterface> &document);
// Writes a document to another file, which it then lives in; a file another process writes is
// refused.
void saveDocumentAs(const css::uno::Reference<css::uno::XInterface> &document, const OUString &path,
                    const OUString &filter);
// Closes a document now, changes lost (its windows with it), and gives up its lock. Not the
// office's own Workbook.Close: that posts the close to the office's event loop and returns before
// it is done, and later calls then meet a document half closed.
void closeDocument(const css::uno::Reference<css::uno::XInterface> &document);
// Gives up the document's lock: it was closed.
void releaseDocument(const css::uno::Reference<css::uno::XInterface> &document);
// Gives up every lock: the office went away with its documents.
void releaseAllDocuments();
// The documents this process opened or added and has not closed, oldest first: in an office
// shared with other processes, the only ones it sees.
std::vector<css::uno::Reference<css::uno::XInterface>> ownDocuments();
// Closes them, changes lost: what a process leaves in a shared office goes when it ends.
void closeOwnDocuments();

} // namespace vlx::calc
