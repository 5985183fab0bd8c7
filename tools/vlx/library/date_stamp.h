// Stamping a build date code into the tagged slot of a built library file.
#pragma once

#include <string>

namespace vlx::cli {

// Rewrites the digits after the slot's tag with `code` (1 to 45 decimal digits) followed by
// blanks, so the slot keeps its length. Refuses, changing nothing, a code of another shape, a
// file that holds the tag not exactly once, or one it cannot write. Throws Failure.
void stampDateCode(const std::string &library, const std::string &code);

// For a code that the library, reading it as a 32-bit long, cannot give back (above
// 2147483647): the warning to show; else empty.
std::string dateCodeWarning(const std::string &code);

} // namespace vlx::cli
