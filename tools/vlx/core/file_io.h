// Whole-file reads and whole-file writes for the vlx commands.
#pragma once

#include <string>

namespace vlx::cli {

// Throws Failure naming the file.
std::string readFile(const std::string &file);

// Writes `text` to `file` by what is there. A regular file (or none) is written beside the target
// and renamed into place, so readers never see half a file; an existing one keeps its permission
// bits (and, where this process may, its owner). A symbolic link is followed and its target
// written by the same rules. A device, FIFO or socket is written directly, never unlinked or
// replaced; a directory is refused. Every write, the sync and the close are checked: any failure
// throws Failure naming the file and the cause.
void writeFileAtomically(const std::string &file, const std::string &text);

// The file a writer that replaces whole files replaces for `file`: a chain of symbolic links is
// followed to its end, as writeFileAtomically follows it. Throws Failure for a loop.
std::string fileToReplace(const std::string &file);

} // namespace vlx::cli
