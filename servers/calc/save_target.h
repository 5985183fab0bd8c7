// Where a save of a workbook lands when its name is a symbolic link.
#pragma once

#include <string>

namespace vlx::calc {

// The file that `path` names once the links of its last component are followed (relative ones
// from the link's own directory): a save replaces that file and keeps the links. `path` itself
// when it is no link, or when the chain is broken or loops (the save then fails there).
std::string saveTarget(const std::string &path);

} // namespace vlx::calc
