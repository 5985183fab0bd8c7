// Whether a workbook's zip is whole but for bytes after its end record, which LibreOffice takes
// for damage though every reader of zips finds all of it.
#pragma once

#include <cstdint>
#include <string>

namespace vlx::calc {

// How many bytes follow the zip's end record (its comment included), when its central directory
// ends just where that record starts; 0 for a zip that ends with the record, or for a file that
// is no such zip.
uint64_t bytesAfterZip(const std::string &path);

} // namespace vlx::calc
