// CFile: open flags and their failures, positions past 4 GiB, access, locks, and the virtual
// slot order.
#include "support/files.h"
#include "support/temp_env.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

using namespace vlx::test;

namespace {

class FileTest : public ::testing::Test {
protected:
  std::string path(const std::string &name) const { return winPath(dir_.file(name)); }
  TempDir dir_;
};

// Runs `call`, which must throw CFileException*, and returns its cause.
template <typename Call> int causeOf(Call call) {
  try {
    call();
  } catch (CFileException *e) {
    int cause = e->m_cause;
    e->Delete();
    return cause;
  }
  return -1;
}

TEST_F(FileTest, OpenFlags) {
  writeFile(dir_.file("readonly.txt"), "fixed");
  chmod(dir_.file("readonly.txt").c_str(), 0444);
  mkdir(dir_.file("sub").c_str(), 0755);
  const struct {
    const char *name;
    UINT flags;
    int cause;             // -1: opens
    const char *dataAfter; // content of data.txt afterwards
  } cases[] = {
      {"data.txt", CFile::modeWrite | CFile::shareExclusive, -1, "content"},
      {"data.txt", CFile::modeCreate | CFile::modeWrite, -1, ""},
      {"data.txt", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite, -1, "content"},
      {"data.txt", 3, CFileException::genericException, "content"},
      {"missing.txt", CFile::modeRead, CFileException::fileNotFound, "content"},
      {"nodir\\x.txt", CFile::modeCreate | CFile::modeWrite, CFileException::badPath, "content"},
      {"readonly.txt", CFile::modeCreate | CFile::modeWrite, CFileException::accessDenied,
       "content"},
      {"sub", CFile::modeRead, CFileException::accessDenied, "content"},
      {"*.txt", CFile::modeRead, CFileException::badPath, "content"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name + std::string(" flags ") + std::to_string(c.flags));
    writeFile(dir_.file("data.txt"), "content");
    CFile file;
    CFileException error;
    EXPECT_EQ(file.Open(path(c.name).c_str(), c.flags, &error), c.cause < 0);
    EXPECT_EQ(file.GetFilePath(), c.cause < 0 ? path(c.name).c_str() : "");
    if (c.cause >= 0) {
      EXPECT_EQ(error.m_cause, c.cause);
      EXPECT_EQ(error.m_strFileName, path(c.name).c_str());
    }
    file.Abort();
    EXPECT_EQ(readFile(dir_.file("data.txt")), c.dataAfter);
  }
  EXPECT_EQ(readFile(dir_.file("readonly.txt")), "fixed");
  EXPECT_TRUE(entries(dir_.path()).count("missing.txt") == 0);
  EXPECT_EQ(causeOf([&] { CFile file(path("missing.txt").c_str(), CFile::modeRead); }),
            CFileException::fileNotFound);
}

TEST_F(FileTest, PositionsAndLengthsPast4GiB) {
  CFile file(path("data.bin").c_str(), CFile::modeCreate | CFile::modeReadWrite);
  file.Write("0123456789", 10);
  EXPECT_EQ(file.Seek(-4, CFile::end), 6u);
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 4u); // short only at the end
  EXPECT_STREQ(buffer, "6789");
  const ULONGLONG far = (ULONGLONG{1} << 32) + 5;
  EXPECT_EQ(file.Seek(static_cast<LONGLONG>(far), CFile::begin), far);
  file.SetLength(far + 1);
  EXPECT_EQ(file.GetLength(), far + 1);
  file.SetLength(4);
  EXPECT_EQ(file.GetPosition(), 4u);
  EXPECT_EQ(causeOf([&] { file.Seek(-5, CFile::current); }), CFileException::badSeek);
  EXPECT_EQ(file.GetPosition(), 4u);
  file.Close();
  EXPECT_EQ(readFile(dir_.file("data.bin")), "0123");
  EXPECT_EQ(causeOf([&] { file.GetLength(); }), CFileException::invalidFile);
  CFile reader(path("data.bin").c_str(), CFile::modeRead);
  EXPECT_EQ(causeOf([&] { reader.Write("x", 1); }), CFileException::accessDenied);
}

// Windows locks neither merge nor nest, and an unlock names a locked range exactly.
TEST_F(FileTest, LockRanges) {
  CFile file(path("data.bin").c_str(), CFile::modeCreate | CFile::modeReadWrite);
  file.LockRange(0, 10);
  EXPECT_EQ(causeOf([&] { file.LockRange(5, 10); }), CFileException::lockViolation);
  EXPECT_EQ(causeOf([&] { file.UnlockRange(0, 5); }), CFileException::lockViolation);
  CFile other(path("data.bin").c_str(), CFile::modeReadWrite);
  EXPECT_EQ(causeOf([&] { other.LockRange(8, 1); }), CFileException::lockViolation);
  file.UnlockRange(0, 10);
  other.LockRange(8, 1);
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
  using ReadInto = BOOL (CStdioFile::*)(CString &);
  using ReadBuffer = LPTSTR (CStdioFile::*)(LPTSTR, UINT);
  EXPECT_EQ(slotOf(&CStdioFile::Dump), 5);
  const std::ptrdiff_t slots[] = {
      slotOf(&CStdioFile::GetPosition),
      slotOf(&CStdioFile::GetFileName),
      slotOf(&CStdioFile::GetFileTitle),
      slotOf(&CStdioFile::GetFilePath),
      slotOf(&CStdioFile::SetFilePath),
      slotOf(&CStdioFile::Open),
      slotOf(&CStdioFile::Duplicate),
      slotOf(&CStdioFile::Seek),
      slotOf(&CStdioFile::SetLength),
      slotOf(&CStdioFile::GetLength),
      slotOf(&CStdioFile::Read),
      slotOf(&CStdioFile::Write),
      slotOf(&CStdioFile::LockRange),
      slotOf(&CStdioFile::UnlockRange),
      slotOf(&CStdioFile::Abort),
      slotOf(&CStdioFile::Flush),
      slotOf(&CStdioFile::Close),
      slotOf(&CStdioFile::GetBufferPtr),
      slotOf(&CStdioFile::WriteString),
      slotOf(static_cast<ReadInto>(&CStdioFile::ReadString)),
      slotOf(static_cast<ReadBuffer>(&CStdioFile::ReadString)),
  };
  for (std::size_t i = 0; i < std::size(slots); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(6 + i));
  }
}
#endif

} // namespace
