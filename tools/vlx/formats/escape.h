// Untrusted text made safe to show on a terminal: in messages, and as names that `vlx ls` lists.
#pragma once

#include <string>
#include <string_view>

namespace vlx::cli {

// The text with every control character (C0, DEL, C1), and every byte that is not part of valid
// UTF-8, written as \n, \r, \t or \xHH. A zero byte no longer ends it.
std::string printable(std::string_view text);

// Text of several lines that the tool or the library wrote (CLI11's messages, a message box's)
// as one line: line breaks become blanks, trailing blanks go. Input is escaped instead.
std::string oneLine(std::string text);

// The name as one shell word, the way `ls` shows names on a terminal: as it is when it holds only
// letters, digits, non-ASCII text and -_.,:+%@/; else in single quotes, with a quote written as
// \' and control characters and stray bytes as $'\n' or $'\033' outside the quotes.
std::string shellWord(std::string_view name);

} // namespace vlx::cli
