// Tests of the text shown on a terminal: escaped messages and names as shell words.
#include <vlx/core/errors.h>
#include <vlx/formats/escape.h>

#include <gtest/gtest.h>

#include <tuple>

namespace vlx::cli {
namespace {

using namespace std::string_literals;

TEST(VlxEscape, PrintableKeepsTextAndEscapesTheRest) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\path \"q\" ü €", "C:\\path \"q\" ü €"},
      {"a\0b"s, "a\\x00b"},
      {"\x1b]0;title\x07", "\\x1b]0;title\\x07"},
      {"l1\nl2\r\t\x7f", "l1\\nl2\\r\\t\\x7f"},
      {"\xc2\x9b"
       "31m",
       "\\xc2\\x9b31m"},                                     // C1 control, in UTF-8
      {"\xff\xc3", "\\xff\\xc3"},                            // no UTF-8; cut short
      {"\xc0\xaf\xed\xa0\x80", "\\xc0\\xaf\\xed\\xa0\\x80"}, // over-long; surrogate
      {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},              // beyond the basic plane
  };
  for (const auto &[text, shown] : cases) {
    SCOPED_TRACE(shown);
    EXPECT_EQ(printable(text), shown);
  }
  // Every message goes through it: a zero byte no longer cuts it short.
  EXPECT_STREQ(Failure("bad 'x\0y' here"s).what(), "bad 'x\\x00y' here");
}

TEST(VlxEscape, ShellWordsReadBackAsTheName) {
  const std::pair<std::string, std::string> cases[] = {
      {"gear.txt", "gear.txt"},
      {"Zeichnung-ü_1,2:+%@.dat", "Zeichnung-ü_1,2:+%@.dat"},
      {"my file.txt", "'my file.txt'"},
      {"it's", "'it'\\''s'"},
      {"'", "\\'"},
      {"a\nb", "'a'$'\\n''b'"},
      {"\x1b[31m", "$'\\033''[31m'"},
      {"x\xff\x01", "'x'$'\\377\\001'"},
      {"$(rm)", "'$(rm)'"},
      {"", "''"},
  };
  for (const auto &[name, word] : cases) {
    SCOPED_TRACE(word);
    EXPECT_EQ(shellWord(name), word);
  }
}

} // namespace
} // namespace vlx::cli
