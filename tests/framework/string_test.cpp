// CString (buffer protocol, clamping, searching, formatting, trimming, comparison), and
// CStringArray and CStringList (insertion and removal bounds, positions).
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <climits>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

using Strings = std::vector<std::string>;

namespace {

std::string bytes(const CString &s) { return std::string(s.GetString(), s.GetLength()); }
std::string bytes(int v) { return std::to_string(v); }
int sign(int v) { return (v > 0) - (v < 0); }

struct Case {
  const char *name;
  std::string got;
  std::string want;
};
// A table row named after the expression it checks.
#define ROW(got, want)                                                                             \
  { #got, bytes(got), want }

void check(std::initializer_list<Case> cases) {
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(CStringTest, BufferProtocol) {
  CString s("abc");
  LPTSTR p = s.GetBuffer(16);
  EXPECT_STREQ(p, "abc"); // growing keeps the content
  std::strcpy(p, "hello world");
  s.ReleaseBuffer(-1); // length from the terminator
  EXPECT_EQ(s.GetLength(), 11);
  p = s.GetBuffer(0); // smaller than the content: the same buffer
  p[5] = '\0';
  s.ReleaseBuffer();
  EXPECT_EQ(s, "hello");
  std::memcpy(s.GetBuffer(20), "x\0y", 3);
  s.ReleaseBuffer(3); // an explicit length keeps embedded NULs
  EXPECT_EQ(bytes(s), std::string("x\0y", 3));
}

// Out-of-range arguments clamp; stored lengths, not terminators, count.
TEST(CStringTest, ExtractionAndTrimming) {
  const CString s("abcdef");
  check({ROW(s.Mid(INT_MIN), "abcdef"), ROW(s.Mid(-2, 3), "abc"), ROW(s.Mid(2, -1), ""),
         ROW(s.Mid(7, 2), ""), ROW(s.Mid(3, INT_MAX), "def"), ROW(s.Left(-1), ""),
         ROW(s.Left(99), "abcdef"), ROW(s.Right(-1), ""), ROW(s.Right(99), "abcdef")});
  const CString zeros("a\0b", 3);
  check({ROW(zeros.Right(2), std::string("\0b", 2)), ROW(zeros + "c", std::string("a\0bc", 4)),
         ROW(CString("  a b \t\r\n").TrimRight(), "  a b"), ROW(CString(" \t ").TrimRight(), ""),
         ROW(CString("a.;.;").TrimRight(".;"), "a"), ROW(CString("ab \0cd", 6).TrimRight(), "ab")});
}

TEST(CStringTest, FindAndCompareNoCase) {
  const CString s("abcabc");
  check({ROW(s.Find('z'), "-1"), ROW(s.Find('b', 2), "4"), ROW(s.Find('a', 6), "-1"),
         ROW(s.Find('a', -1), "-1"), ROW(s.Find("abc", 3), "3"), ROW(s.Find("", 6), "6"),
         ROW(s.ReverseFind('a'), "3"), ROW(CString().ReverseFind('a'), "-1")});
  check({ROW(sign(s.Left(3).CompareNoCase("ABC")), "0"),
         ROW(sign(CString("a").CompareNoCase("aB")), "-1"),
         ROW(sign(CString("\xe9").CompareNoCase("a")), "1"), // bytes compare unsigned
         ROW(sign(CString("_").CompareNoCase("A")), "-1")}); // '_' sorts below 'a'
}

TEST(CStringTest, FormatAndAppendMayReadThemselves) {
  const std::string big(10000, 'q');
  CString s;
  s.Format("<%s>%d", big.c_str(), 7);
  EXPECT_EQ(bytes(s), "<" + big + ">7");
  s = "self";
  s.Format("%s+%s", static_cast<LPCTSTR>(s), static_cast<LPCTSTR>(s));
  EXPECT_EQ(s, "self+self");
  for (int i = 0; i < 12; ++i)
    s += s; // reads its own buffer while growing
  EXPECT_EQ(s.GetLength(), 9 << 12);
  s = s.GetString() + 5; // assignment from inside its own buffer
  EXPECT_EQ(s.Left(9), "selfself+");
}

using Strings = std::vector<std::string>;

Strings contents(const CStringArray &a) {
  Strings out;
  for (INT_PTR i = 0; i < a.GetSize(); ++i)
    out.emplace_back(a[i]);
  return out;
}

Strings contents(const CStringList &l) {
  Strings out;
  for (POSITION pos = l.GetHeadPosition(); pos != nullptr;)
    out.emplace_back(l.GetNext(pos));
  return out;
}

TEST(CStringArrayTest, InsertAndRemoveBounds) {
  CStringArray a;
  a.Add("a");
  for (int i = 0; i < 100; ++i)
    a.Add(a[0]); // survives the array moving its storage
  EXPECT_EQ(a[100], "a");
  a.SetSize(1);

  const std::function<void()> bad[] = {[&] { a.GetAt(1); }, [&] { a.GetAt(-1); },
                                       [&] { a.RemoveAt(0, 2); }, [&] { a.InsertAt(-1, "x"); },
                                       [&] { a.SetSize(-1); }};
  for (std::size_t i = 0; i < std::size(bad); ++i) {
    SCOPED_TRACE(i);
    try {
      bad[i]();
      ADD_FAILURE() << "no exception";
    } catch (CException *e) {
      EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CInvalidArgException)));
      e->Delete();
    }
  }
  EXPECT_EQ(contents(a), (Strings{"a"}));
}

TEST(CStringListTest, PositionsAndRemovalWhileIterating) {
  CStringList l;
  POSITION b = l.AddTail("b");
  l.InsertBefore(b, "a");
  POSITION c = l.InsertAfter(b, "c");
  l.InsertAfter(c, "d");        // after the tail: becomes the tail
  l.InsertBefore(nullptr, "0"); // NULL: at the head
  EXPECT_EQ(contents(l), (Strings{"0", "a", "b", "c", "d"}));
  EXPECT_EQ(l.Find("c", b), c);

  for (POSITION pos = l.GetHeadPosition(); pos != nullptr;) {
    POSITION current = pos;
    if (l.GetNext(pos) != "b")
      l.RemoveAt(current);
  }
  EXPECT_EQ(l.GetCount(), 1);
  EXPECT_EQ(l.GetHeadPosition(), b); // the end links follow a removed head and tail
  EXPECT_EQ(l.GetTailPosition(), b);
  l.RemoveAt(b);
  EXPECT_EQ(l.GetTailPosition(), nullptr);
  l.AddTail("again");
  EXPECT_EQ(contents(l), (Strings{"again"}));
}

} // namespace
