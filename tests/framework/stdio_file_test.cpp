// CStdioFile: text and binary mode, both ReadString forms.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <string>
#include <utility>
#include <vector>

using namespace vlx::test;

namespace {

class StdioFileTest : public ::testing::Test {
protected:
  TempDir dir_;
  std::string file_ = dir_.file("text.txt");
  std::string path_ = winPath(file_);
};

TEST_F(StdioFileTest, ReadStringIntoAString) {
  const std::string longLine(700, 'y'); // several of the reader's chunks
  const struct {
    const char *name;
    std::string content;
    UINT type;
    std::vector<std::string> lines;
  } cases[] = {{"text is the default", "one\r\ntwo", 0, {"one", "two"}},
               {"lone CR and CR at the end", "a\rb\r", 0, {"a\rb\r"}},
               {"long line", longLine + "\r\nend\n", 0, {longLine, "end"}}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(file_, c.content);
    CStdioFile file(path_.c_str(), CFile::modeRead | c.type);
    std::vector<std::string> lines;
    CString line;
    while (file.ReadString(line))
      lines.emplace_back(line.GetString(), line.GetLength());
    EXPECT_EQ(lines, c.lines);
    EXPECT_TRUE(line.IsEmpty()); // the failing read leaves it empty
  }
}

// The buffer form stops after nMax - 1 characters, keeps the newline and leaves the buffer alone
// at the end of the file.
TEST_F(StdioFileTest, ReadStringIntoABuffer) {
  writeFile(file_, "abcdef\r\ngh");
  CStdioFile file(path_.c_str(), CFile::modeRead);
  char buffer[16];
  const std::pair<UINT, const char *> reads[] = {{4, "abc"}, {1, ""}, {16, "def\n"}, {16, "gh"}};
  for (const auto &[max, want] : reads) {
    SCOPED_TRACE(want);
    EXPECT_EQ(file.ReadString(buffer, max), buffer);
    EXPECT_STREQ(buffer, want);
  }
  EXPECT_EQ(file.ReadString(buffer, 16), nullptr);
  EXPECT_STREQ(buffer, "gh");
}

#ifndef _WIN32
// A read error is not the end of the file: it throws. (Faults come through the POSIX call table.)
TEST_F(StdioFileTest, ReadErrorThrows) {
  writeFile(file_, "line\n");
  CStdioFile file(path_.c_str(), CFile::modeRead);
  SyscallGuard guard;
  vlx::posix::fileSyscalls().read = [](int, void *, size_t) -> ssize_t {
    errno = EIO;
    return -1;
  };
  CString line;
  try {
    file.ReadString(line);
    ADD_FAILURE() << "no exception";
  } catch (CFileException *e) {
    EXPECT_EQ(e->m_cause, CFileException::hardIO);
    e->Delete();
  }
}
#endif

} // namespace
