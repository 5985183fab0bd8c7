// Tests of CString: buffer protocol, clamping, searching, formatting, trimming, comparison.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <climits>
#include <cstring>
#include <string>

namespace {

std::string bytes(const CString &s) { return std::string(s.GetString(), s.GetLength()); }

TEST(CStringTest, ConstructionKeepsStoredLength) {
  EXPECT_TRUE(CString(static_cast<LPCTSTR>(nullptr)).IsEmpty());
  CString embedded("a\0b", 3);
  EXPECT_EQ(embedded.GetLength(), 3);
  EXPECT_EQ(bytes(embedded), std::string("a\0b", 3));
  EXPECT_EQ(bytes(CString(embedded)), std::string("a\0b", 3)); // the copy keeps all of it
  EXPECT_EQ(CString('x', 3), "xxx");
  EXPECT_TRUE(CString('x', 0).IsEmpty());

  CString moved(std::move(embedded));
  EXPECT_EQ(moved.GetLength(), 3);
  EXPECT_TRUE(embedded.IsEmpty()); // NOLINT(bugprone-use-after-move): moved-from is empty
}

TEST(CStringTest, BufferProtocol) {
  CString s("abc");
  LPTSTR p = s.GetBuffer(16);
  EXPECT_STREQ(p, "abc"); // growing keeps the content
  EXPECT_EQ(s.GetLength(), 3);
  std::strcpy(p, "hello world");
  s.ReleaseBuffer(); // length from the terminator
  EXPECT_EQ(s, "hello world");
  EXPECT_EQ(s.GetLength(), 11);

  p = s.GetBuffer(0); // smaller than the content: the same buffer
  p[5] = '\0';
  s.ReleaseBuffer(-1);
  EXPECT_EQ(s, "hello");

  p = s.GetBuffer(20);
  std::memcpy(p, "x\0y", 3);
  s.ReleaseBuffer(3); // an explicit length keeps embedded NULs
  EXPECT_EQ(bytes(s), std::string("x\0y", 3));

  CString empty;
  std::strcpy(empty.GetBuffer(5), "12345");
  empty.ReleaseBuffer();
  EXPECT_EQ(empty, "12345");

  CString sized;
  LPTSTR q = sized.GetBufferSetLength(4);
  EXPECT_EQ(sized.GetLength(), 4);
  EXPECT_EQ(q[4], '\0');
  std::memcpy(q, "wxyz", 4);
  EXPECT_EQ(sized, "wxyz");
  sized.GetBufferSetLength(2);
  EXPECT_EQ(sized, "wx");

  CString untouched;
  untouched.GetBuffer(8);
  untouched.ReleaseBuffer();
  EXPECT_TRUE(untouched.IsEmpty());
}

TEST(CStringTest, ExtractionClampsOutOfRange) {
  const CString s("abcdef");
  struct Case {
    const char *name;
    CString got;
    const char *want;
  } cases[] = {
      {"Mid(2)", s.Mid(2), "cdef"},
      {"Mid(-3)", s.Mid(-3), "abcdef"},
      {"Mid(6)", s.Mid(6), ""},
      {"Mid(9)", s.Mid(9), ""},
      {"Mid(1,2)", s.Mid(1, 2), "bc"},
      {"Mid(4,10)", s.Mid(4, 10), "ef"},
      {"Mid(-2,3)", s.Mid(-2, 3), "abc"},
      {"Mid(2,-1)", s.Mid(2, -1), ""},
      {"Mid(7,2)", s.Mid(7, 2), ""},
      {"Mid(3,INT_MAX)", s.Mid(3, INT_MAX), "def"},
      {"Mid(INT_MAX,INT_MAX)", s.Mid(INT_MAX, INT_MAX), ""},
      {"Mid(INT_MIN)", s.Mid(INT_MIN), "abcdef"},
      {"Left(2)", s.Left(2), "ab"},
      {"Left(-1)", s.Left(-1), ""},
      {"Left(99)", s.Left(99), "abcdef"},
      {"Right(2)", s.Right(2), "ef"},
      {"Right(-1)", s.Right(-1), ""},
      {"Right(99)", s.Right(99), "abcdef"},
      {"SpanIncluding", s.SpanIncluding("bca"), "abc"},
      {"SpanExcluding", s.SpanExcluding("dz"), "abc"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
  EXPECT_EQ(bytes(CString("a\0bc", 4).Right(2)), "bc"); // counted in stored characters
}

TEST(CStringTest, FindAndReverseFind) {
  const CString s("abcabc");
  struct Case {
    const char *name;
    int got;
    int want;
  } cases[] = {
      {"char", s.Find('b'), 1},
      {"char absent", s.Find('z'), -1},
      {"char from 2", s.Find('b', 2), 4},
      {"char from last", s.Find('c', 5), 5},
      {"char from length", s.Find('a', 6), -1},
      {"char from negative", s.Find('a', -1), -1},
      {"sub", s.Find("ca"), 2},
      {"sub from 3", s.Find("abc", 3), 3},
      {"sub from 4", s.Find("abc", 4), -1},
      {"sub past end", s.Find("c", 7), -1},
      {"empty sub at end", s.Find("", 6), 6},
      {"sub null", s.Find(static_cast<LPCTSTR>(nullptr)), -1},
      {"reverse", s.ReverseFind('a'), 3},
      {"reverse absent", s.ReverseFind('q'), -1},
      {"reverse on empty", CString().ReverseFind('a'), -1},
      {"one of", s.FindOneOf("xc"), 2},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
  }
}

TEST(CStringTest, FormatAnyLength) {
  CString s;
  s.Format("%d-%s", 42, "x");
  EXPECT_EQ(s, "42-x");

  std::string big(10000, 'q');
  s.Format("<%s>%d", big.c_str(), 7);
  EXPECT_EQ(s.GetLength(), 10003);
  EXPECT_EQ(std::string(s), "<" + big + ">7");

  // An argument may be the string being formatted.
  s = "self";
  s.Format("%s+%s", static_cast<LPCTSTR>(s), static_cast<LPCTSTR>(s));
  EXPECT_EQ(s, "self+self");
  s.Format("%s%s", big.c_str(), static_cast<LPCTSTR>(s));
  EXPECT_EQ(std::string(s), big + "self+self");

  s.AppendFormat("[%03d]", 5);
  EXPECT_EQ(s.Right(5), "[005]");
}

TEST(CStringTest, Trim) {
  struct Case {
    const char *name;
    CString got;
    const char *want;
  } cases[] = {
      {"right white", CString("  a b \t\r\n").TrimRight(), "  a b"},
      {"right none", CString("ab").TrimRight(), "ab"},
      {"right all", CString(" \t ").TrimRight(), ""},
      {"right char", CString("xaxx").TrimRight('x'), "xa"},
      {"right set", CString("a.;.;").TrimRight(".;"), "a"},
      {"right null set", CString("a  ").TrimRight(static_cast<LPCTSTR>(nullptr)), "a  "},
      {"left white", CString("\n\t a ").TrimLeft(), "a "},
      {"left char", CString("xxa x").TrimLeft('x'), "a x"},
      {"left set", CString("-+-a-").TrimLeft("+-"), "a-"},
      {"both", CString("  a  ").Trim(), "a"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.got, c.want);
    EXPECT_EQ(c.got.GetLength(), static_cast<int>(std::strlen(c.want)));
  }
  // Only the text up to the first NUL is looked at.
  CString embedded("ab \0cd", 6);
  embedded.TrimRight();
  EXPECT_EQ(embedded.GetLength(), 2);
}

TEST(CStringTest, Comparison) {
  struct Case {
    const char *a;
    const char *b;
    int sign;       // of Compare
    int signNoCase; // of CompareNoCase
  } cases[] = {
      {"abc", "abc", 0, 0},     {"abc", "ABC", 1, 0}, {"a", "ab", -1, -1},
      {"_", "A", 1, -1}, // case folding goes to lower case, where '_' sorts first
      {"Zeta", "alpha", -1, 1}, {"", "", 0, 0},       {"\xe9", "a", 1, 1},
  };
  auto sign = [](int v) { return (v > 0) - (v < 0); };
  for (const auto &c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    EXPECT_EQ(sign(CString(c.a).Compare(c.b)), c.sign);
    EXPECT_EQ(sign(CString(c.a).CompareNoCase(c.b)), c.signNoCase);
  }
  CString b("b");
  EXPECT_TRUE(b == "b" && "b" == b && b != "c" && b < "c" && "a" < b && b >= CString("b"));
  EXPECT_EQ(CString().Compare(nullptr), 0);
}

TEST(CStringTest, ConcatenationAndAliasing) {
  CString s("ab");
  EXPECT_EQ(s + "c", "abc");
  EXPECT_EQ("c" + s, "cab");
  EXPECT_EQ(s + 'z', "abz");
  EXPECT_EQ('z' + s, "zab");
  EXPECT_EQ(s + s, "abab");
  EXPECT_EQ(bytes(CString("a\0", 2) + CString("b")), std::string("a\0b", 3));

  for (int i = 0; i < 12; ++i)
    s += s; // reads its own buffer while growing
  EXPECT_EQ(s.GetLength(), 2 << 12);
  EXPECT_EQ(s.Right(4), "abab");

  s = "hello";
  s = s.GetString() + 2; // assignment from inside its own buffer
  EXPECT_EQ(s, "llo");
  s += s.GetString() + 1;
  EXPECT_EQ(s, "llolo");
}

TEST(CStringTest, Editing) {
  CString s("a.b.c");
  EXPECT_EQ(s.Replace('.', '/'), 2);
  EXPECT_EQ(s, "a/b/c");
  EXPECT_EQ(s.Replace("/", "::"), 2);
  EXPECT_EQ(s, "a::b::c");
  EXPECT_EQ(s.Replace("::", ""), 2);
  EXPECT_EQ(s, "abc");
  EXPECT_EQ(s.Replace("", "x"), 0);
  s = "aaa";
  EXPECT_EQ(s.Replace("aa", "b"), 1); // matches do not overlap
  EXPECT_EQ(s, "ba");

  s = "hello";
  EXPECT_EQ(s.Insert(99, "!"), 6);
  EXPECT_EQ(s.Insert(-5, '>'), 7);
  EXPECT_EQ(s, ">hello!");
  EXPECT_EQ(s.Delete(1, 100), 1);
  EXPECT_EQ(s.Delete(5), 1);
  EXPECT_EQ(s, ">");
  s = "banana";
  EXPECT_EQ(s.Remove('a'), 3);
  EXPECT_EQ(s, "bnn");
  EXPECT_EQ(CString("MiXed9").MakeUpper(), "MIXED9");
  EXPECT_EQ(CString("MiXed9").MakeLower(), "mixed9");
  EXPECT_EQ(CString("abc").MakeReverse(), "cba");
}

TEST(CStringTest, IndexChecks) {
  CString s("ab");
  EXPECT_EQ(s[1], 'b');
  EXPECT_EQ(s.GetAt(2), '\0'); // the terminator may be read
  s.SetAt(0, 'x');
  EXPECT_EQ(s, "xb");
  for (int index : {-1, 3}) {
    SCOPED_TRACE(index);
    try {
      s.GetAt(index);
      ADD_FAILURE() << "no exception";
    } catch (CException *e) {
      EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CInvalidArgException)));
      e->Delete();
    }
  }
  try {
    s.SetAt(2, 'y'); // the terminator may not be written
    ADD_FAILURE() << "no exception";
  } catch (CException *e) {
    e->Delete();
  }
}

} // namespace
