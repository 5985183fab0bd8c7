// CStdioFile: text and binary mode, both ReadString forms, appending, positions over the
// buffer, and failures of buffered writes.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cerrno>
#include <cstring>
#include <string>
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
  } cases[] = {
      {"text is the default", "one\r\ntwo", 0, {"one", "two"}},
      {"binary keeps CR", "one\r\ntwo", CFile::typeBinary, {"one\r", "two"}},
      {"empty lines count", "\n\r\n\nx", 0, {"", "", "", "x"}},
      {"lone CR and CR at the end", "a\rb\r", 0, {"a\rb\r"}},
      {"long line", longLine + "\r\nend\n", 0, {longLine, "end"}},
  };
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

// The run-time's "a" mode: writing without modeCreate, or with modeCreate and modeNoTruncate;
// text mode writes LF as CR LF.
TEST_F(StdioFileTest, AppendingModes) {
  const struct {
    UINT flags;
    const char *after;
  } cases[] = {
      {CFile::modeWrite, "startX\r\n"},
      {CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite, "startX\r\n"},
      {CFile::modeReadWrite, "X\r\nrt"},
      {CFile::modeReadWrite | CFile::typeBinary, "X\nart"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.flags);
    writeFile(file_, "start");
    CStdioFile file(path_.c_str(), c.flags);
    file.Seek(0, CFile::begin);
    file.WriteString("X\n");
    EXPECT_EQ(file.GetLength(), std::string(c.after).size()); // pending writes count
    file.Close();
    EXPECT_EQ(readFile(file_), c.after);
  }
}

TEST_F(StdioFileTest, PositionsFollowWhatWasConsumed) {
  writeFile(file_, "one\r\ntwo\r\nthree\r\n");
  CStdioFile file(path_.c_str(), CFile::modeReadWrite);
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(file.GetPosition(), 5u); // bytes of the file, CR included
  // A write after a read lands where the reader stopped, not after its read-ahead.
  file.WriteString("TWO");
  EXPECT_EQ(file.Seek(-3, CFile::current), 5u);
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "TWO");
  file.SetLength(10);
  file.Close();
  EXPECT_EQ(readFile(file_), "one\r\nTWO\r\n");
}

// Opening an open object closes it first, even when the new path is its own stored path.
TEST_F(StdioFileTest, ReopeningItsOwnPath) {
  struct Reopener : CStdioFile {
    BOOL reopen() { return Open(m_strFileName, modeRead); }
  };
  writeFile(file_, "first\nsecond\n");
  Reopener file;
  ASSERT_TRUE(file.Open(path_.c_str(), CFile::modeRead));
  CString line;
  ASSERT_TRUE(file.ReadString(line));
  ASSERT_TRUE(file.reopen());
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "first");
}

// Larger than the buffer, and split so that buffered and direct transfers meet.
TEST_F(StdioFileTest, LargeBinaryTransfersRoundTrip) {
  std::string data(100000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7 + i / 251);
  CStdioFile file(path_.c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary);
  file.Write(data.data(), 10);
  file.Write(data.data() + 10, static_cast<UINT>(data.size() - 10));
  file.SeekToBegin();
  std::string back(data.size() + 10, '\0');
  UINT got = file.Read(&back[0], 3);
  back.resize(got + file.Read(&back[got], static_cast<UINT>(back.size() - got)));
  EXPECT_EQ(back, data);
}

// A full disk found when the buffer is written: Close still closes, then throws.
TEST_F(StdioFileTest, AFailedFlushThrowsAfterClosing) {
  SyscallGuard guard;
  CStdioFile file(path_.c_str(), CFile::modeCreate | CFile::modeWrite);
  file.WriteString("pending");
  vlx::posix::fileSyscalls().write = [](int, const void *, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  int cause = -1;
  try {
    file.Close();
  } catch (CFileException *e) {
    cause = e->m_cause;
    e->Delete();
  }
  EXPECT_EQ(cause, CFileException::diskFull);
  EXPECT_EQ(file.m_hFile, CFile::hFileNull);
}

} // namespace
