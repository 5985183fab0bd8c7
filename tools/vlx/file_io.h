// Whole-file reads and atomic whole-file writes for the vlx commands.
#pragma once

#include <string>

namespace vlx::cli {

// Throws Failure naming the file.
std::string readFile(const std::string &file);

// Writes beside the target and renames into place, so readers never see half a file. An
// existing target keeps its permission bits. Throws Failure naming the file.
void writeFileAtomically(const std::string &file, const std::string &text);

} // namespace vlx::cli
