// The names of recently searched folders by their folded form, kept true by the kernel's change
// events, so that a name missing as written costs a look-up rather than a listing of its folder.
#pragma once

#include <string>
#include <string_view>

namespace vlx::posix {

// The entry of the folder `dirFd` whose name folds as `name` does (the first in byte order of
// several; empty when there is none), answered from the folder's index, which the first call for
// the folder builds by one listing. False when the folder cannot be indexed (no change events for
// this process, a network file system, a folder too large): the caller lists it itself.
bool indexedCaselessEntry(int dirFd, std::string_view name, std::string *found);

} // namespace vlx::posix
