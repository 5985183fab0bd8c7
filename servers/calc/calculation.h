// A workbook just loaded keeps the formula results its file holds until the host's first change.
#pragma once

#include "uno_names.h"

#include <com/sun/star/uno/XInterface.hpp>

namespace vlx::calc {

// A document just loaded keeps the formula results its file holds: automatic calculation stays
// off (volatile formulas such as NOW keep the file's value) once every other formula has its
// result (LibreOffice keeps only numbers from a file and computes Booleans, texts and errors
// again).
void holdCalculation(const Reference<css::uno::XInterface> &document);
// Whether the document's calculation is held: nothing has been computed since it was loaded.
bool calculationHeld(const Reference<css::uno::XInterface> &document);
// Turns calculation back on before the first change the host makes, as the spreadsheet
// recalculates on a change; a no-op for a document not held.
void resumeCalculation(const Reference<css::uno::XInterface> &document);

} // namespace vlx::calc
