// fileAccess: line reads in text and binary mode, opening without throwing, read errors.
#include "files/files_helpers.h"
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
  using Reads = std::vector<std::pair<int, std::string>>;
  const struct {
    const char *name;
    std::string content;
    unsigned flags;
    Reads reads; // each call's result and the line after it; the last is the end of the file
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
      {"CR LF at the piece boundary", x257 + "\r\nz", 0, {{258, x257 + "\n"}, {1, "z"}, {0, "z"}}},
      {"a lone CR stays", "a\rb\n\r", 0, {{4, "a\rb\n"}, {1, "\r"}, {0, "\r"}}},
      {"binary keeps CR LF",
       "one\r\ntwo",
       CFile::typeBinary,
       {{5, "one\r\n"}, {3, "two"}, {0, "two"}}},
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
  const std::string missing = winPath(dir_.file("missing.txt"));
  const std::string elsewhere = winPath(dir_.file("no/such/dir.txt"));
  for (const std::string &bad : {missing, elsewhere, winPath(dir_.path())}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(file.SafeOpen(bad.c_str(), CFile::modeRead), 0);
    EXPECT_EQ(file.m_hFile, CFile::hFileNull);
    EXPECT_EQ(file.GetFilePath(), "");
  }
  EXPECT_FALSE(exists(dir_.file("missing.txt")));

  writeFile(path_, "hello\n");
  ASSERT_NE(file.SafeOpen(winPath(path_).c_str(), CFile::modeRead), 0);
  EXPECT_EQ(file.GetFilePath(), winPath(path_).c_str());
  CString line;
  EXPECT_EQ(file.ReadLine(line), 6);
  EXPECT_EQ(line, "hello\n");
  // Its run-time class is the stdio file's.
  EXPECT_EQ(file.GetRuntimeClass(), RUNTIME_CLASS(CStdioFile));
}

TEST_F(LineFileTest, SafeOpenCanCreate) {
  fileAccess file;
  ASSERT_NE(file.SafeOpen(winPath(path_).c_str(), CFile::modeCreate | CFile::modeWrite), 0);
  file.WriteString("a\nb\n");
  file.Close();
  EXPECT_EQ(readFile(path_), "a\r\nb\r\n");
}

// A failing read is the framework's file exception, passed through to the caller.
TEST_F(LineFileTest, ReadErrorsThrow) {
  writeFile(path_, "line\n");
  fileAccess file;
  ASSERT_NE(file.SafeOpen(winPath(path_).c_str(), CFile::modeRead), 0);
  FileSyscallGuard guard;
  vlx::posix::fileSyscalls().read = [](int, void *, size_t) -> ssize_t {
    errno = EIO;
    return -1;
  };
  CString line("kept");
  try {
    file.ReadLine(line);
    ADD_FAILURE() << "no exception";
  } catch (CFileException *e) {
    EXPECT_EQ(e->m_cause, CFileException::hardIO);
    EXPECT_EQ(e->m_lOsError, ERROR_READ_FAULT);
    EXPECT_EQ(e->m_strFileName, winPath(path_).c_str());
    e->Delete();
  }
}

} // namespace
