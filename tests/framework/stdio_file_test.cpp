// CStdioFile: text and binary mode, both ReadString forms, appending, positions over the
// buffer, and failures of buffered writes.
#include "files/files_helpers.h"
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
      {"CR LF", "one\r\ntwo\r\n", CFile::typeText, {"one", "two"}},
      {"text is the default", "one\r\ntwo", 0, {"one", "two"}},
      {"binary keeps CR", "one\r\ntwo", CFile::typeBinary, {"one\r", "two"}},
      {"empty lines count", "\n\r\n\nx", 0, {"", "", "", "x"}},
      {"lone CR and CR at the end", "a\rb\r", 0, {"a\rb\r"}},
      {"long line", longLine + "\r\nend\n", 0, {longLine, "end"}},
      {"empty file", "", 0, {}},
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

TEST_F(StdioFileTest, ReadStringIntoABuffer) {
  writeFile(file_, "abcdef\r\ngh");
  CStdioFile file(path_.c_str(), CFile::modeRead);
  char buffer[16];
  std::memset(buffer, '#', sizeof buffer);
  EXPECT_EQ(file.ReadString(buffer, 4), buffer); // nMax - 1 characters
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(file.ReadString(buffer, 1), buffer); // room for the terminator alone
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(file.ReadString(buffer, 16), buffer);
  EXPECT_STREQ(buffer, "def\n");
  EXPECT_EQ(file.ReadString(buffer, 16), buffer);
  EXPECT_STREQ(buffer, "gh");
  std::strcpy(buffer, "untouched");
  EXPECT_EQ(file.ReadString(buffer, 16), nullptr);
  EXPECT_STREQ(buffer, "untouched");
}

TEST_F(StdioFileTest, WriteStringTranslatesNewlinesInTextMode) {
  {
    CStdioFile text(path_.c_str(), CFile::modeCreate | CFile::modeWrite);
    text.WriteString("a\nb\r\n");
    EXPECT_EQ(text.GetLength(), 7u); // pending writes count
  }
  EXPECT_EQ(readFile(file_), "a\r\nb\r\r\n");
  {
    CStdioFile binary(path_.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
    binary.WriteString("a\nb");
  }
  EXPECT_EQ(readFile(file_), "a\nb");
}

// The run-time's "a" mode: writing without modeCreate, or with modeCreate and modeNoTruncate.
TEST_F(StdioFileTest, AppendingModes) {
  const struct {
    UINT flags;
    const char *after;
  } cases[] = {
      {CFile::modeWrite, "startX"},
      {CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite, "startX"},
      {CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite, "startX"},
      {CFile::modeReadWrite, "Xtart"},
      {CFile::modeCreate | CFile::modeWrite, "X"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.flags);
    writeFile(file_, "start");
    CStdioFile file(path_.c_str(), c.flags | CFile::typeBinary);
    file.Seek(0, CFile::begin);
    file.WriteString("X");
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
  EXPECT_EQ(file.GetPosition(), 8u);
  EXPECT_EQ(file.Seek(-3, CFile::current), 5u);
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "TWO");
  file.SetLength(10);
  EXPECT_EQ(file.GetLength(), 10u);
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
  EXPECT_EQ(file.GetFilePath(), path_.c_str());
  ASSERT_TRUE(file.ReadString(line));
  EXPECT_EQ(line, "first");
}

TEST_F(StdioFileTest, LargeBinaryTransfersRoundTrip) {
  std::string data(100000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7 + i / 251);
  {
    CStdioFile out(path_.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary);
    out.Write(data.data(), 10);
    out.Write(data.data() + 10, static_cast<UINT>(data.size() - 10));
  }
  EXPECT_EQ(readFile(file_), data);
  CStdioFile in(path_.c_str(), CFile::modeRead | CFile::typeBinary);
  std::string back(data.size() + 10, '\0');
  UINT got = in.Read(&back[0], 3);
  got += in.Read(&back[got], static_cast<UINT>(back.size() - got));
  EXPECT_EQ(got, data.size());
  back.resize(got);
  EXPECT_EQ(back, data);
}

// A full disk found when the buffer is written: Close still closes, then throws.
TEST_F(StdioFileTest, AFailedFlushThrowsAfterClosing) {
  FileSyscallGuard guard;
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
    EXPECT_EQ(e->m_strFileName, path_.c_str());
    e->Delete();
  }
  EXPECT_EQ(cause, CFileException::diskFull);
  EXPECT_EQ(file.m_hFile, CFile::hFileNull);
}

TEST_F(StdioFileTest, StreamsDoNotDuplicateOrLock) {
  writeFile(file_, "x");
  CStdioFile file(path_.c_str(), CFile::modeRead);
  for (int op = 0; op < 3; ++op) {
    SCOPED_TRACE(op);
    bool refused = false;
    try {
      if (op == 0)
        delete file.Duplicate();
      else if (op == 1)
        file.LockRange(0, 1);
      else
        file.UnlockRange(0, 1);
    } catch (CNotSupportedException *e) {
      refused = true;
      e->Delete();
    }
    EXPECT_TRUE(refused);
  }
  CStdioFile closed;
  CString line;
  int cause = -1;
  try {
    closed.ReadString(line);
  } catch (CFileException *e) {
    cause = e->m_cause;
    e->Delete();
  }
  EXPECT_EQ(cause, CFileException::invalidFile);
}

} // namespace
