// CFile: open flags and their failures, reading and writing, positions, locks, names, the
// exception's causes, and the virtual slot order.
#include "files/files_helpers.h"
#include "support/temp_env.h"

#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <cstdint>
#include <iterator>
#include <cstring>
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
  writeFile(dir_.file("data.txt"), "content");
  writeFile(dir_.file("readonly.txt"), "fixed");
  chmod(dir_.file("readonly.txt").c_str(), 0444);
  mkdir(dir_.file("sub").c_str(), 0755);
  const struct {
    const char *name;
    UINT flags;
    BOOL opened;
    int cause;
    LONG osError;
    const char *contentAfter; // of that file; null: no such file afterwards
  } cases[] = {
      {"data.txt", CFile::modeRead, TRUE, CFileException::none, -1, "content"},
      {"data.txt", CFile::modeWrite | CFile::shareExclusive, TRUE, 0, -1, "content"},
      {"data.txt", CFile::modeCreate | CFile::modeWrite, TRUE, 0, -1, ""},
      {"missing.txt", CFile::modeRead, FALSE, CFileException::fileNotFound, ERROR_FILE_NOT_FOUND,
       nullptr},
      {"missing.txt", CFile::modeReadWrite | CFile::shareDenyNone, FALSE,
       CFileException::fileNotFound, ERROR_FILE_NOT_FOUND, nullptr},
      {"nodir/x.txt", CFile::modeCreate | CFile::modeWrite, FALSE, CFileException::badPath,
       ERROR_PATH_NOT_FOUND, nullptr},
      {"new.txt", CFile::modeCreate | CFile::modeNoTruncate | CFile::modeWrite, TRUE, 0, -1, ""},
      {"readonly.txt", CFile::modeReadWrite, FALSE, CFileException::accessDenied,
       ERROR_ACCESS_DENIED, "fixed"},
      {"readonly.txt", CFile::modeCreate | CFile::modeWrite, FALSE, CFileException::accessDenied,
       ERROR_ACCESS_DENIED, "fixed"},
      {"readonly.txt", CFile::modeRead | CFile::shareDenyWrite, TRUE, 0, -1, "fixed"},
      {"sub", CFile::modeRead, FALSE, CFileException::accessDenied, ERROR_ACCESS_DENIED, nullptr},
      {"*.txt", CFile::modeRead, FALSE, CFileException::badPath, ERROR_INVALID_NAME, nullptr},
      {"data.txt", 3, FALSE, CFileException::genericException, ERROR_INVALID_PARAMETER, "content"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name + std::string(" flags ") + std::to_string(c.flags));
    writeFile(dir_.file("data.txt"), "content");
    unlink(dir_.file("new.txt").c_str());
    CFile file;
    CFileException error;
    EXPECT_EQ(file.Open(path(c.name).c_str(), c.flags, &error), c.opened);
    EXPECT_EQ(file.m_hFile != CFile::hFileNull, c.opened != FALSE);
    if (c.opened) {
      EXPECT_EQ(file.GetFilePath(), path(c.name).c_str());
    } else {
      EXPECT_EQ(error.m_cause, c.cause);
      EXPECT_EQ(error.m_lOsError, c.osError);
      EXPECT_EQ(error.m_strFileName, path(c.name).c_str());
      EXPECT_EQ(file.GetFilePath(), "");
    }
    file.Abort();
    if (c.contentAfter != nullptr) {
      EXPECT_EQ(readFile(dir_.file(c.name)), c.contentAfter);
    } else if (std::strcmp(c.name, "sub") != 0) {
      EXPECT_FALSE(exists(dir_.file(c.name)));
    }
  }
}

TEST_F(FileTest, TheOpeningConstructorThrows) {
  int cause = causeOf([&] { CFile file(path("missing.txt").c_str(), CFile::modeRead); });
  EXPECT_EQ(cause, CFileException::fileNotFound);
}

TEST_F(FileTest, ReadWriteSeekAndLength) {
  CFile file(path("data.bin").c_str(), CFile::modeCreate | CFile::modeReadWrite);
  file.Write("0123456789", 10);
  EXPECT_EQ(file.GetPosition(), 10u);
  EXPECT_EQ(file.GetLength(), 10u);
  EXPECT_EQ(file.Seek(-4, CFile::end), 6u);
  char buffer[16] = {};
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 4u); // short only at the end
  EXPECT_STREQ(buffer, "6789");
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(file.Seek(2, CFile::begin), 2u);
  EXPECT_EQ(file.Seek(3, CFile::current), 5u);

  // Past 4 GiB: the high words of positions and lengths are carried.
  const ULONGLONG far = (ULONGLONG{1} << 32) + 5;
  EXPECT_EQ(file.Seek(static_cast<LONGLONG>(far), CFile::begin), far);
  file.SetLength(far + 1);
  EXPECT_EQ(file.GetLength(), far + 1);
  file.SetLength(4);
  EXPECT_EQ(file.GetPosition(), 4u);
  EXPECT_EQ(file.SeekToEnd(), 4u);
  file.SeekToBegin();
  EXPECT_EQ(file.GetPosition(), 0u);

  EXPECT_EQ(causeOf([&] { file.Seek(-1, CFile::begin); }), CFileException::badSeek);
  EXPECT_EQ(file.GetPosition(), 0u);
  file.Close();
  EXPECT_EQ(readFile(dir_.file("data.bin")), "0123");
  EXPECT_EQ(file.m_hFile, CFile::hFileNull);
  EXPECT_EQ(file.GetFilePath(), "");
}

TEST_F(FileTest, OperationsWithoutTheAccessThrow) {
  writeFile(dir_.file("data.txt"), "content");
  CFile reader(path("data.txt").c_str(), CFile::modeRead);
  EXPECT_EQ(causeOf([&] { reader.Write("x", 1); }), CFileException::accessDenied);
  EXPECT_EQ(causeOf([&] { reader.Flush(); }), CFileException::accessDenied);
  CFile writer(path("data.txt").c_str(), CFile::modeWrite);
  char c;
  EXPECT_EQ(causeOf([&] { writer.Read(&c, 1); }), CFileException::accessDenied);
  CFile closed;
  EXPECT_EQ(causeOf([&] { closed.GetLength(); }), CFileException::invalidFile);
  closed.Flush(); // nothing to flush on a closed file
}

TEST_F(FileTest, DuplicateSharesThePosition) {
  writeFile(dir_.file("data.txt"), "abcdef");
  CFile file(path("data.txt").c_str(), CFile::modeRead);
  file.Seek(2, CFile::begin);
  CFile *copy = file.Duplicate();
  EXPECT_EQ(copy->GetFilePath(), file.GetFilePath());
  char c = 0;
  copy->Read(&c, 1);
  EXPECT_EQ(c, 'c');
  EXPECT_EQ(file.GetPosition(), 3u);
  delete copy; // closes its own handle only
  file.Read(&c, 1);
  EXPECT_EQ(c, 'd');
}

TEST_F(FileTest, LockRanges) {
  CFile file(path("data.bin").c_str(), CFile::modeCreate | CFile::modeReadWrite);
  file.LockRange(0, 10);
  // Windows locks neither merge nor nest, and an unlock names a locked range exactly.
  EXPECT_EQ(causeOf([&] { file.LockRange(5, 10); }), CFileException::lockViolation);
  EXPECT_EQ(causeOf([&] { file.UnlockRange(0, 5); }), CFileException::lockViolation);
  file.LockRange(10, 10);
  file.UnlockRange(0, 10);
  file.LockRange(0, 5);
  // Another handle of this process is kept out too.
  CFile other(path("data.bin").c_str(), CFile::modeReadWrite);
  EXPECT_EQ(causeOf([&] { other.LockRange(12, 1); }), CFileException::lockViolation);
  other.LockRange(30, 1);
}

TEST_F(FileTest, Names) {
  const struct {
    const char *path, *name, *title;
  } cases[] = {
      {"C:\\work\\gear.txt", "gear.txt", "gear"},
      {"C:\\work\\archive.tar.gz", "archive.tar.gz", "archive.tar"},
      {"/home/u/notes", "notes", "notes"},
      {"C:gear.txt", "gear.txt", "gear"},
      {"C:\\work\\.profile", ".profile", ".profile"},
      {"C:\\work\\", "", ""},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.path);
    CFile file;
    file.SetFilePath(c.path);
    EXPECT_EQ(file.GetFilePath(), c.path);
    EXPECT_EQ(file.GetFileName(), c.name);
    EXPECT_EQ(file.GetFileTitle(), c.title);
  }
}

TEST(FileExceptionTest, CausesAndMessages) {
  const struct {
    LONG osError;
    int cause;
  } cases[] = {
      {ERROR_FILE_NOT_FOUND, CFileException::fileNotFound},
      {ERROR_PATH_NOT_FOUND, CFileException::badPath},
      {ERROR_ACCESS_DENIED, CFileException::accessDenied},
      {ERROR_SHARING_VIOLATION, CFileException::sharingViolation},
      {ERROR_DISK_FULL, CFileException::diskFull},
      {ERROR_NEGATIVE_SEEK, CFileException::badSeek},
      {ERROR_LOCK_VIOLATION, CFileException::lockViolation},
      {ERROR_HANDLE_EOF, CFileException::endOfFile},
      {ERROR_WRITE_FAULT, CFileException::hardIO},
      {ERROR_NOT_SUPPORTED, CFileException::genericException},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.osError);
    EXPECT_EQ(CFileException::OsErrorToException(c.osError), c.cause);
  }

  EXPECT_NO_THROW(CFileException::ThrowOsError(0, "x"));
  CFileException *thrown = nullptr;
  try {
    CFileException::ThrowOsError(ERROR_DISK_FULL, "C:\\work\\gear.txt");
  } catch (CFileException *e) {
    thrown = e;
  }
  ASSERT_NE(thrown, nullptr);
  EXPECT_TRUE(thrown->IsKindOf(RUNTIME_CLASS(CException)));
  EXPECT_EQ(thrown->m_cause, CFileException::diskFull);
  TCHAR message[64];
  EXPECT_TRUE(thrown->GetErrorMessage(message, sizeof message));
  EXPECT_NE(std::strstr(message, "gear.txt"), nullptr) << message;
  TCHAR tiny[5];
  EXPECT_TRUE(thrown->GetErrorMessage(tiny, sizeof tiny));
  EXPECT_EQ(std::strlen(tiny), 4u);
  thrown->Empty();
  EXPECT_EQ(thrown->m_cause, CFileException::none);
  EXPECT_EQ(thrown->m_lOsError, -1);
  EXPECT_TRUE(thrown->m_strFileName.IsEmpty());
  thrown->Delete();
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

// Hosts built against the framework call through these slots, so their order is fixed.
TEST(FileLayoutTest, VirtualSlotOrder) {
  using ReadInto = BOOL (CStdioFile::*)(CString &);
  using ReadBuffer = LPTSTR (CStdioFile::*)(LPTSTR, UINT);
  // 0 GetRuntimeClass, 1-2 the destructor pair, 3-5 Serialize, AssertValid, Dump.
  EXPECT_EQ(slotOf(&CStdioFile::GetRuntimeClass), 0);
  EXPECT_EQ(slotOf(&CStdioFile::Serialize), 3);
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
