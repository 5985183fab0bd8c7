// fileAccess: line reads in text and binary mode. SafeOpen only forwards to CFile::Open, whose
// failures framework/file_test checks.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <string>
#include <tuple>
#include <utility>
#include <vector>

using namespace vlx::test;

namespace {

class LineFileTest : public TempEnvTest {
protected:
  std::string path_ = dir_.file("lines.txt");
};

TEST_F(LineFileTest, ReadLineCases) {
  const std::string x300(300, 'x');
  using Reads = std::vector<std::pair<int, std::string>>; // result and line after each call
  const std::tuple<const char *, std::string, unsigned, Reads> cases[] = {
      // At the end the line keeps its old text.
      {"last line without newline", "a\nlast", 0, {{2, "a\n"}, {4, "last"}, {0, "last"}}},
      {"empty lines", "\n\nx\n", 0, {{1, "\n"}, {1, "\n"}, {2, "x\n"}}},
      {"300 characters",
       x300 + "\n",
       0,
       {{258, x300.substr(0, 258)}, {43, x300.substr(0, 42) + "\n"}}},
      {"CR LF is one newline", "one\r\ntwo\r\n", 0, {{4, "one\n"}, {4, "two\n"}}},
      {"binary keeps CR LF", "one\r\n", CFile::typeBinary, {{5, "one\r\n"}}},
  };
  for (const auto &[name, content, flags, reads] : cases) {
    SCOPED_TRACE(name);
    writeFile(path_, content);
    fileAccess file;
    ASSERT_NE(file.SafeOpen(winPath(path_).c_str(), CFile::modeRead | flags), 0);
    CString line;
    for (const auto &[result, text] : reads) {
      EXPECT_EQ(file.ReadLine(line), result);
      EXPECT_EQ(std::string(line.GetString(), line.GetLength()), text);
    }
  }
}

} // namespace
