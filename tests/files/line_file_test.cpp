// fileAccess: line reads in text and binary mode, opening without throwing, read errors.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/files.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cerrno>
#include <string>
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
  const std::string x257(257, 'x');
  const struct {
    const char *name;
    std::string content;
    unsigned flags;
    std::vector<std::pair<int, std::string>> reads; // result and line after each call
  } cases[] = {
      {"last line without newline", "a\nlast", 0, {{2, "a\n"}, {4, "last"}, {0, "last"}}},
      {"empty lines", "\n\nx\n", 0, {{1, "\n"}, {1, "\n"}, {2, "x\n"}, {0, "x\n"}}},
      {"300 characters",
       x300 + "\n",
       0,
       {{258, x300.substr(0, 258)},
        {43, x300.substr(0, 42) + "\n"},
        {0, x300.substr(0, 42) + "\n"}}},
      {"CR LF is one newline", "one\r\ntwo\r\n", 0, {{4, "one\n"}, {4, "two\n"}, {0, "two\n"}}},
      {"CR LF at the piece boundary", x257 + "\r\nz", 0, {{258, x257 + "\n"}, {1, "z"}}},
      {"a lone CR stays", "a\rb\n", 0, {{4, "a\rb\n"}}},
      {"binary keeps CR LF", "one\r\n", CFile::typeBinary, {{5, "one\r\n"}, {0, "one\r\n"}}},
      {"empty file", "", 0, {{0, "before"}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(path_, c.content);
    fileAccess file;
    ASSERT_NE(file.SafeOpen(winPath(path_).c_str(), CFile::modeRead | c.flags), 0);
    CString line("before");
    for (const auto &[result, text] : c.reads) {
      EXPECT_EQ(file.ReadLine(line), result);
      EXPECT_EQ(std::string(line.GetString(), line.GetLength()), text);
    }
  }
}

TEST_F(LineFileTest, SafeOpenFailsQuietlyAndTheObjectStaysUsable) {
  fileAccess file;
  for (const char *bad : {"missing.txt", "no/such/dir.txt", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(file.SafeOpen(winPath(dir_.file(bad)).c_str(), CFile::modeRead), 0);
    EXPECT_EQ(file.m_hFile, CFile::hFileNull);
  }
  writeFile(path_, "hello\n");
  ASSERT_NE(file.SafeOpen(winPath(path_).c_str(), CFile::modeRead), 0);
  CString line;
  EXPECT_EQ(file.ReadLine(line), 6);
  EXPECT_EQ(file.GetRuntimeClass(), RUNTIME_CLASS(CStdioFile));
}

// A failing read is the framework's file exception, passed through to the caller.
TEST_F(LineFileTest, ReadErrorsThrow) {
  writeFile(path_, "line\n");
  fileAccess file;
  ASSERT_NE(file.SafeOpen(winPath(path_).c_str(), CFile::modeRead), 0);
  SyscallGuard guard;
  vlx::posix::fileSyscalls().read = [](int, void *, size_t) -> ssize_t {
    errno = EIO;
    return -1;
  };
  CString line;
  int cause = -1;
  try {
    file.ReadLine(line);
  } catch (CFileException *e) {
    cause = e->m_cause;
    EXPECT_EQ(e->m_lOsError, ERROR_READ_FAULT);
    e->Delete();
  }
  EXPECT_EQ(cause, CFileException::hardIO);
}

} // namespace
