// Tests of the exception classes: ownership, messages through the message box, memory failures.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

class CCountedException : public CException {
public:
  using CException::CException;
  ~CCountedException() override { ++destroyed; }
  static inline int destroyed = 0;
};

class CTextException : public CException {
public:
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT) const override {
    return std::snprintf(lpszError, nMaxError, "disk on fire") > 0;
  }
};

TEST(CExceptionTest, DeleteHonoursAutoDelete) {
  CCountedException::destroyed = 0;
  try {
    throw new CCountedException;
  } catch (CException *e) {
    e->Delete(); // heap exceptions delete themselves by default
  }
  EXPECT_EQ(CCountedException::destroyed, 1);
  {
    CCountedException onStack(FALSE);
    try {
      throw &onStack;
    } catch (CException *e) {
      e->Delete(); // must not free an object it does not own
    }
    EXPECT_EQ(CCountedException::destroyed, 1);
  }
  EXPECT_EQ(CCountedException::destroyed, 2);
}

TEST(CExceptionTest, ReportErrorShowsTheMessageOrADefault) {
  std::vector<std::pair<std::string, unsigned>> shown;
  auto previous = vlx::setMessageBoxHandler([&](const char *text, unsigned type) {
    shown.emplace_back(text, type);
    return IDCANCEL;
  });
  EXPECT_EQ(CException(FALSE).ReportError(), IDCANCEL);
  CTextException().ReportError(MB_ICONEXCLAMATION);
  vlx::setMessageBoxHandler(std::move(previous));
  EXPECT_EQ(shown,
            (std::vector<std::pair<std::string, unsigned>>{
                {"No error message is available.", MB_OK}, {"disk on fire", MB_ICONEXCLAMATION}}));
}

// The memory exception is preallocated: it outlives Delete and is thrown again.
TEST(CExceptionTest, RefusedAllocationThrowsMemoryException) {
  AFX_ALLOC_HOOK previous = AfxSetAllocHook([](size_t, BOOL, LONG) -> BOOL { return FALSE; });
  std::vector<CMemoryException *> caught;
  for (int i = 0; i < 2; ++i) {
    try {
      CString s("needs a buffer");
    } catch (CMemoryException *e) {
      caught.push_back(e);
      EXPECT_FALSE(e->m_bAutoDelete);
      e->Delete();
    }
  }
  AfxSetAllocHook(previous);
  ASSERT_EQ(caught.size(), 2u);
  EXPECT_EQ(caught[0], caught[1]);
  char small[4];
  EXPECT_TRUE(caught[0]->GetErrorMessage(small, sizeof small));
  EXPECT_STREQ(small, "Out"); // truncated to the buffer
}

} // namespace
