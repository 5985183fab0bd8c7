// Help text fitted to the terminal, and the hints a usage error gives.
#pragma once

#include <string>
#include <vector>

namespace vlx::cli {

// Columns of the terminal on standard output; else $COLUMNS; else 80.
size_t terminalWidth();

// Each line longer than `width` broken at blanks; continuation lines start under the text of the
// line's description column (after a gap of two blanks) or its own indent.
std::string wrapText(const std::string &text, size_t width);

// The candidate nearest to `word` by edit distance (letter case ignored), when it is near enough
// to be a likely typo; "" otherwise.
std::string nearestWord(const std::string &word, const std::vector<std::string> &candidates);

} // namespace vlx::cli
