// Stamping a build date code into the tagged slot of a built library file.
#include "vlx/library/date_stamp.h"

#include "vlx/core/errors.h"
#include "vlx/core/file_io.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace vlx::cli {
namespace {

const char tag[] = "$?153#548834?$";
constexpr size_t tagLength = sizeof tag - 1;
// Digits and blanks after the tag, then the terminating zero.
constexpr size_t digitRoom = 45;

bool isDigits(const std::string &text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

void stampDateCode(const std::string &library, const std::string &code) {
  if (code.empty() || code.size() > digitRoom || !isDigits(code))
    throw Failure("bad date code '" + code + "': expected 1 to 45 decimal digits", 2);

  std::string image = readFile(library);
  size_t count = 0, at = std::string::npos;
  for (size_t pos = image.find(tag, 0, tagLength); pos != std::string::npos;
       pos = image.find(tag, pos + 1, tagLength)) {
    ++count;
    at = pos;
  }
  if (count != 1)
    throw Failure(library + " holds the date-code tag " + std::to_string(count) +
                  " times, not once");
  size_t digits = at + tagLength;
  if (digits + digitRoom >= image.size() || image[digits + digitRoom] != '\0' ||
      image.find_first_not_of("0123456789 ", digits) < digits + digitRoom)
    throw Failure(library + ": the date-code slot is not digits and blanks");

  std::string stamped = code + std::string(digitRoom - code.size(), ' ');
  image.replace(digits, digitRoom, stamped);
  writeFileAtomically(library, image);
}

std::string dateCodeWarning(const std::string &code) {
  const size_t first = std::min(code.find_first_not_of('0'), code.size());
  const std::string_view significant = std::string_view(code).substr(first);
  constexpr std::string_view kLargest = "2147483647";
  if (significant.size() < kLargest.size() ||
      (significant.size() == kLargest.size() && significant <= kLargest))
    return {};
  return "warning: date code " + code + " does not fit in 32 bits; the library reads it as " +
         std::string(kLargest);
}

} // namespace vlx::cli
