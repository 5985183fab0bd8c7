// Tests of the exception classes, the throw helpers and the message box handler.
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
  BOOL GetErrorMessage(LPTSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const override {
    if (pnHelpContext != nullptr)
      *pnHelpContext = 77;
    std::snprintf(lpszError, nMaxError, "disk on fire");
    return TRUE;
  }
};

struct Shown {
  std::string text;
  unsigned type;
};

// Captures what AfxMessageBox shows and puts the previous handler back afterwards.
class MessageBoxTest : public ::testing::Test {
protected:
  void SetUp() override {
    previous_ = vlx::setMessageBoxHandler([this](const char *text, unsigned type) {
      shown_.push_back({text, type});
      return answer_;
    });
  }
  void TearDown() override { vlx::setMessageBoxHandler(std::move(previous_)); }
  vlx::MessageBoxHandler previous_;
  std::vector<Shown> shown_;
  int answer_ = IDOK;
};

TEST(CExceptionTest, DeleteHonoursAutoDelete) {
  CCountedException::destroyed = 0;
  try {
    throw new CCountedException;
  } catch (CException *e) {
    EXPECT_TRUE(e->m_bAutoDelete);
    e->Delete();
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

TEST(CExceptionTest, DefaultErrorMessageIsEmpty) {
  CException e(FALSE);
  char buffer[8] = "junk";
  UINT help = 5;
  EXPECT_FALSE(e.GetErrorMessage(buffer, sizeof buffer, &help));
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(help, 0u);
  EXPECT_FALSE(e.GetErrorMessage(nullptr, 0));
  EXPECT_TRUE(e.IsKindOf(RUNTIME_CLASS(CObject)));
}

TEST(CExceptionTest, MemoryExceptionIsPreallocated) {
  CException *first = nullptr;
  for (int i = 0; i < 2; ++i) {
    try {
      AfxThrowMemoryException();
    } catch (CException *e) {
      EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CMemoryException)));
      EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CSimpleException)));
      EXPECT_FALSE(e->m_bAutoDelete);
      if (first == nullptr)
        first = e;
      EXPECT_EQ(e, first); // the same object every time
      char small[4];
      EXPECT_TRUE(e->GetErrorMessage(small, sizeof small));
      EXPECT_STREQ(small, "Out"); // truncated to the buffer
      e->Delete();
    }
  }
}

TEST(CExceptionTest, StringAllocationFailureThrowsMemoryException) {
  AFX_ALLOC_HOOK previous = AfxSetAllocHook([](size_t, BOOL, LONG) -> BOOL { return FALSE; });
  bool thrown = false;
  try {
    CString s("needs a buffer");
  } catch (CMemoryException *e) {
    thrown = true;
    e->Delete();
  }
  AfxSetAllocHook(previous);
  EXPECT_TRUE(thrown);
}

TEST_F(MessageBoxTest, ReportErrorPicksItsText) {
  CException plain;
  answer_ = IDCANCEL;
  EXPECT_EQ(plain.ReportError(), IDCANCEL);
  CTextException text;
  text.ReportError(MB_ICONEXCLAMATION);
  plain.ReportError(MB_OK, 1234); // a message ID without a resource shows an empty box
  ASSERT_EQ(shown_.size(), 3u);
  EXPECT_EQ(shown_[0].text, "No error message is available.");
  EXPECT_EQ(shown_[0].type, MB_OK);
  EXPECT_EQ(shown_[1].text, "disk on fire");
  EXPECT_EQ(shown_[1].type, MB_ICONEXCLAMATION);
  EXPECT_EQ(shown_[2].text, "");
}

TEST_F(MessageBoxTest, HandlerReplacementNests) {
  AfxMessageBox("outer");
  auto mine = vlx::setMessageBoxHandler([](const char *, unsigned) { return IDNO; });
  EXPECT_EQ(AfxMessageBox("inner", MB_YESNO), IDNO);
  auto inner = vlx::setMessageBoxHandler(std::move(mine)); // back to the capturing one
  EXPECT_EQ(inner("x", 0), IDNO);
  AfxMessageBox(static_cast<LPCTSTR>(nullptr));
  ASSERT_EQ(shown_.size(), 2u);
  EXPECT_EQ(shown_[0].text, "outer");
  EXPECT_EQ(shown_[1].text, "");
}

TEST(MessageBoxDefaultTest, WritesOneLineToStderr) {
  auto previous = vlx::setMessageBoxHandler(nullptr); // the default
  ::testing::internal::CaptureStderr();
  int answer = AfxMessageBox("first\r\nsecond\n\nthird\n", MB_YESNO);
  std::string written = ::testing::internal::GetCapturedStderr();
  vlx::setMessageBoxHandler(std::move(previous));
  EXPECT_EQ(answer, IDOK);
  EXPECT_EQ(written, "first second third\n");
}

} // namespace
