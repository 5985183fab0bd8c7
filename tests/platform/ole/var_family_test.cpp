// The Var* family's table, and the BSTR and VARIANT calls that go with it.
#include "support/var_family_cases.h"

#include <velmora/win32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <thread>
#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace vlx::test;

namespace {

TEST(OleVarFamily, Table) {
  for (const VarFamilyCase &c : varFamilyCases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.run(), c.expected);
  }
}

TEST(OleBstr, TextStartsAPointerPastA16ByteBoundary) {
  for (UINT length : {0u, 1u, 7u, 8u, 100u}) {
    BSTR text = SysAllocStringLen(nullptr, length);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(text) % 16, sizeof(void *) % 16) << length;
    EXPECT_EQ(SysStringLen(text), length);
    SysFreeString(text);
  }
}

// Windows' cache of freed strings lets a second SysFreeString be; the block is still handed
// to one string at a time afterwards.
TEST(OleBstr, AStringFreedTwiceIsLetBe) {
  if (std::getenv("OANOCACHE"))
    GTEST_SKIP() << "OANOCACHE turns the cache off: a second free would stop the process";
  BSTR text = SysAllocString(u"twice");
  SysFreeString(text);
  SysFreeString(text);
  BSTR first = SysAllocString(u"after");
  BSTR second = SysAllocString(u"again");
  EXPECT_NE(first, second);
  EXPECT_EQ(std::u16string(first), u"after");
  SysFreeString(first);
  SysFreeString(second);
}

#ifndef _WIN32
// The cache's lock is never inherited held: a child forked while other threads free strings
// frees and allocates its own.
TEST(OleBstr, AChildForkedWhileStringsAreFreedUsesThem) {
  std::atomic<bool> stop{false};
  std::thread churn([&stop] {
    while (!stop)
      SysFreeString(SysAllocString(u"churn"));
  });
  for (int i = 0; i < 20; ++i) {
    const pid_t child = fork();
    if (child == 0) {
      BSTR text = SysAllocString(u"child");
      SysFreeString(text);
      _exit(text != nullptr ? 0 : 1);
    }
    int status = -1;
    pid_t reaped = 0;
    for (int waited = 0; (reaped = waitpid(child, &status, WNOHANG)) == 0 && waited < 500; ++waited)
      usleep(10 * 1000);
    if (reaped == 0) { // still there after 5 s: it waits for a lock no one holds
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << i << ": " << status;
  }
  stop = true;
  churn.join();
}
#endif

TEST(OleBstr, ReallocatesFromItsOwnText) {
  BSTR text = SysAllocString(u"hello world");
  ASSERT_TRUE(SysReAllocStringLen(&text, text + 6, 5));
  EXPECT_EQ(std::u16string(text, SysStringLen(text)), u"world");
  ASSERT_TRUE(SysReAllocString(&text, u"longer than before"));
  EXPECT_EQ(SysStringLen(text), 18u);
  EXPECT_FALSE(SysReAllocString(nullptr, u"x"));
  SysFreeString(text);
}

TEST(OleVariant, CopyIndFollowsTheReference) {
  BSTR text = SysAllocString(u"kept");
  VARIANT source, copy;
  VariantInit(&copy);
  source.vt = VT_BSTR | VT_BYREF;
  source.pbstrVal = &text;
  ASSERT_EQ(VariantCopyInd(&copy, &source), S_OK);
  EXPECT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, text); // a copy of its own
  EXPECT_EQ(std::u16string(copy.bstrVal), u"kept");
  VariantClear(&copy);

  DECIMAL d = decimalOf("-1.25");
  source.vt = VT_DECIMAL | VT_BYREF;
  source.pdecVal = &d;
  ASSERT_EQ(VariantCopyInd(&copy, &source), S_OK);
  EXPECT_EQ(copy.vt, VT_DECIMAL);
  EXPECT_EQ(decimalText(copy.decVal), "-1.25");

  VARIANT inner;
  inner.vt = VT_I4;
  inner.lVal = 7;
  source.vt = VT_VARIANT | VT_BYREF;
  source.pvarVal = &inner;
  ASSERT_EQ(VariantCopyInd(&copy, &source), S_OK);
  EXPECT_EQ(copy.vt, VT_I4);
  EXPECT_EQ(copy.lVal, 7);
  SysFreeString(text);
}

TEST(OleVariant, UnknownIsNeverAskedForItsValue) {
  ValueObject object("7");
  VARIANT source, result;
  source.vt = VT_UNKNOWN;
  source.punkVal = &object;
  VariantInit(&result);
  EXPECT_EQ(VariantChangeType(&result, &source, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(object.invokes, 0);
  EXPECT_EQ(object.refs, 1);
}

} // namespace
