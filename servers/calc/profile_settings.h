// The settings of the private profile an office is started with.
#pragma once

#include <string>

namespace vlx::calc {

// Sets up profile for a start: the prepared profile where one is kept, and settings for no lock
// files beside the host's documents, no recovery data, no first-start dialogs and no
// recalculation on load. Throws CalcError when it cannot be written.
void writeProfileSettings(const std::string &profile);

} // namespace vlx::calc
