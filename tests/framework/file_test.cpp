// CFile (open flags and their failures, the virtual slot order) and CStdioFile (text and binary
// mode, both ReadString forms).
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

using namespace vlx::test;

namespace {

TEST(FileTest, OpenFlags) {
  TempDir dir;
  auto path = [&](const std::string &name) { return winPath(dir.file(name)); };
  writeFile(dir.file("readonly.txt"), "fixed");
  std::filesystem::permissions(dir.file("readonly.txt"), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::group_read |
                                                             std::filesystem::perms::others_read);
  std::filesystem::create_directory(dir.file("sub"));
  const UINT create = CFile::modeCreate | CFile::modeWrite;
  const struct {
    const char *name;
    UINT flags;
    int cause; // -1: opens
  } cases[] = {{"data.txt", CFile::modeWrite | CFile::shareExclusive, -1},
               {"data.txt", create, -1}, // truncates
               {"data.txt", create | CFile::modeNoTruncate, -1},
               {"missing.txt", CFile::modeRead, CFileException::fileNotFound},
               {"nodir\\x.txt", create, CFileException::badPath},
               {"readonly.txt", create, CFileException::accessDenied},
               {"sub", CFile::modeRead, CFileException::accessDenied}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name + std::string(" flags ") + std::to_string(c.flags));
    // Wine running as root opens a read-only file for writing, as root may on Linux.
    if (underWine() && std::string(c.name) == "readonly.txt")
      continue;
    writeFile(dir.file("data.txt"), "content");
    CFile file;
    CFileException error;
    EXPECT_EQ(file.Open(path(c.name).c_str(), c.flags, &error), c.cause < 0);
    EXPECT_EQ(file.GetFilePath(), c.cause < 0 ? path(c.name).c_str() : "");
    if (c.cause >= 0) {
      EXPECT_EQ(error.m_cause, c.cause);
      EXPECT_EQ(error.m_strFileName, path(c.name).c_str());
    }
    file.Abort();
    EXPECT_EQ(readFile(dir.file("data.txt")), c.cause < 0 && c.flags == create ? "" : "content");
  }
  EXPECT_EQ(readFile(dir.file("readonly.txt")), "fixed");
  EXPECT_EQ(entries(dir.path()), (std::set<std::string>{"data.txt", "readonly.txt", "sub"}));
}

#if defined(__x86_64__) || defined(__i386__)
// Under the Itanium C++ ABI a pointer to a virtual member holds 1 + its slot's byte offset.
template <typename Member> std::ptrdiff_t slotOf(Member member) {
  struct Raw {
    std::uintptr_t ptr;
    std::ptrdiff_t adj;
  } raw;
  static_assert(sizeof(Member) == sizeof(Raw), "Itanium member pointer");
  std::memcpy(&raw, &member, sizeof raw);
  return static_cast<std::ptrdiff_t>((raw.ptr - 1) / sizeof(void *));
}

// Hosts built against the framework call through these slots, so their order is fixed: after
// GetRuntimeClass, the destructor pair, Serialize, AssertValid and Dump.
TEST(FileLayoutTest, VirtualSlotOrder) {
  using F = CStdioFile;
  BOOL (F::*readInto)(CString &) = &F::ReadString;
  LPTSTR (F::*readBuffer)(LPTSTR, UINT) = &F::ReadString;
  const std::ptrdiff_t slots[] = {
      slotOf(&F::Dump),         slotOf(&F::GetPosition), slotOf(&F::GetFileName),
      slotOf(&F::GetFileTitle), slotOf(&F::GetFilePath), slotOf(&F::SetFilePath),
      slotOf(&F::Open),         slotOf(&F::Duplicate),   slotOf(&F::Seek),
      slotOf(&F::SetLength),    slotOf(&F::GetLength),   slotOf(&F::Read),
      slotOf(&F::Write),        slotOf(&F::LockRange),   slotOf(&F::UnlockRange),
      slotOf(&F::Abort),        slotOf(&F::Flush),       slotOf(&F::Close),
      slotOf(&F::GetBufferPtr), slotOf(&F::WriteString), slotOf(readInto),
      slotOf(readBuffer)};
  for (std::size_t i = 0; i < std::size(slots); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(5 + i));
  }
}
#endif

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
