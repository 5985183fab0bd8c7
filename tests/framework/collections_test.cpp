// Tests of CStringArray and CStringList: growth, insertion and removal, positions.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include "framework/print.h"

#include <string>
#include <vector>

namespace {

std::vector<std::string> contents(const CStringArray &a) {
  std::vector<std::string> out;
  for (INT_PTR i = 0; i < a.GetSize(); ++i)
    out.emplace_back(a[i]);
  return out;
}

std::vector<std::string> contents(const CStringList &l) {
  std::vector<std::string> out;
  for (POSITION pos = l.GetHeadPosition(); pos != nullptr;)
    out.emplace_back(l.GetNext(pos));
  return out;
}

using Strings = std::vector<std::string>;

template <class F> void expectInvalidArg(F f) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (CException *e) {
    EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CInvalidArgException)));
    e->Delete();
  }
}

TEST(CStringArrayTest, AddInsertRemove) {
  CStringArray a;
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(a.GetUpperBound(), -1);
  EXPECT_EQ(a.Add("a"), 0);
  EXPECT_EQ(a.Add(CString("c")), 1);
  a.InsertAt(1, "b");
  a.InsertAt(0, "x", 2);
  EXPECT_EQ(contents(a), (Strings{"x", "x", "a", "b", "c"}));
  a.InsertAt(7, "z"); // past the end: the gap is filled with empty strings
  EXPECT_EQ(contents(a), (Strings{"x", "x", "a", "b", "c", "", "", "z"}));
  EXPECT_EQ(a.GetCount(), 8);
  EXPECT_EQ(a.GetUpperBound(), 7);

  a.RemoveAt(0, 2);
  a.RemoveAt(a.GetUpperBound());
  EXPECT_EQ(contents(a), (Strings{"a", "b", "c", "", ""}));
  a.SetSize(2);
  EXPECT_EQ(contents(a), (Strings{"a", "b"}));
  a.SetSize(3);
  EXPECT_EQ(contents(a), (Strings{"a", "b", ""}));
  a.SetAt(2, "C");
  a[0] = "A";
  EXPECT_EQ(contents(a), (Strings{"A", "b", "C"}));

  CStringArray more;
  more.Add("m");
  a.InsertAt(1, &more);
  EXPECT_EQ(contents(a), (Strings{"A", "m", "b", "C"}));
  a.RemoveAll();
  EXPECT_TRUE(a.IsEmpty());
}

TEST(CStringArrayTest, BadIndexesThrow) {
  CStringArray a;
  a.Add("only");
  expectInvalidArg([&] { a.GetAt(1); });
  expectInvalidArg([&] { a.GetAt(-1); });
  expectInvalidArg([&] { a.SetAt(1, "x"); });
  expectInvalidArg([&] { a.RemoveAt(0, 2); });
  expectInvalidArg([&] { a.RemoveAt(-1); });
  expectInvalidArg([&] { a.InsertAt(-1, "x"); });
  expectInvalidArg([&] { a.SetSize(-1); });
  EXPECT_EQ(contents(a), (Strings{"only"}));
}

// Elements passed back in must survive the array moving its storage.
TEST(CStringArrayTest, OwnElementsAsArguments) {
  CStringArray a;
  a.Add("seed");
  for (int i = 0; i < 100; ++i)
    a.Add(a[a.GetUpperBound()]);
  EXPECT_EQ(a.GetSize(), 101);
  EXPECT_EQ(a[100], "seed");

  CStringArray b;
  b.Add("p");
  b.Add("q");
  for (int i = 0; i < 20; ++i)
    b.InsertAt(1, b[i % b.GetSize()], 3);
  for (INT_PTR i = 0; i < b.GetSize(); ++i)
    EXPECT_TRUE(b[i] == "p" || b[i] == "q") << i;

  CStringArray c;
  c.Add("1");
  c.Add("2");
  EXPECT_EQ(c.Append(c), 2);
  c.InsertAt(1, &c);
  EXPECT_EQ(contents(c), (Strings{"1", "1", "2", "1", "2", "2", "1", "2"}));
  c.SetAtGrow(9, c[0]);
  EXPECT_EQ(c.GetSize(), 10);
  EXPECT_EQ(c[9], "1");
  EXPECT_EQ(c[8], "");
}

TEST(CStringListTest, OrderAndEnds) {
  CStringList l;
  EXPECT_TRUE(l.IsEmpty());
  l.AddTail("b");
  l.AddHead("a");
  l.AddTail(CString("c"));
  EXPECT_EQ(contents(l), (Strings{"a", "b", "c"}));
  EXPECT_EQ(l.GetHead(), "a");
  EXPECT_EQ(l.GetTail(), "c");

  Strings backwards;
  for (POSITION pos = l.GetTailPosition(); pos != nullptr;)
    backwards.emplace_back(l.GetPrev(pos));
  EXPECT_EQ(backwards, (Strings{"c", "b", "a"}));

  EXPECT_EQ(l.RemoveHead(), "a");
  EXPECT_EQ(l.RemoveTail(), "c");
  EXPECT_EQ(l.RemoveTail(), "b");
  EXPECT_TRUE(l.IsEmpty());
  EXPECT_EQ(l.GetHeadPosition(), nullptr);
  EXPECT_EQ(l.GetTailPosition(), nullptr);
  expectInvalidArg([&] { l.GetHead(); });
  expectInvalidArg([&] { l.RemoveTail(); });
}

TEST(CStringListTest, InsertAroundPositions) {
  CStringList l;
  POSITION b = l.AddTail("b");
  l.InsertBefore(b, "a");
  POSITION c = l.InsertAfter(b, "c");
  l.InsertAfter(c, "d");        // after the tail: becomes the tail
  l.InsertBefore(nullptr, "0"); // NULL: at the head
  l.InsertAfter(nullptr, "e");  // NULL: at the tail
  EXPECT_EQ(contents(l), (Strings{"0", "a", "b", "c", "d", "e"}));
  EXPECT_EQ(l.GetTail(), "e");
  EXPECT_EQ(l.GetCount(), 6);
  l.SetAt(b, "B");
  EXPECT_EQ(l.GetAt(b), "B");
}

TEST(CStringListTest, RemoveWhileIterating) {
  CStringList l;
  for (const char *s : {"keep1", "drop", "drop", "keep2", "drop"})
    l.AddTail(s);
  for (POSITION pos = l.GetHeadPosition(); pos != nullptr;) {
    POSITION current = pos;
    if (l.GetNext(pos) == "drop")
      l.RemoveAt(current);
  }
  EXPECT_EQ(contents(l), (Strings{"keep1", "keep2"}));
  EXPECT_EQ(l.GetCount(), 2);
  EXPECT_EQ(l.GetTail(), "keep2"); // the tail link follows a removed tail

  l.RemoveAt(l.GetHeadPosition());
  l.RemoveAt(l.GetHeadPosition());
  EXPECT_TRUE(l.IsEmpty());
  l.AddTail("again");
  EXPECT_EQ(contents(l), (Strings{"again"}));
}

TEST(CStringListTest, FindAndFindIndex) {
  CStringList l;
  for (const char *s : {"x", "y", "x", "z"})
    l.AddTail(s);
  POSITION first = l.Find("x");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, l.GetHeadPosition());
  POSITION second = l.Find("x", first);
  EXPECT_EQ(second, l.FindIndex(2));
  EXPECT_EQ(l.Find("x", second), nullptr);
  EXPECT_EQ(l.Find("X"), nullptr); // case matters
  EXPECT_EQ(l.FindIndex(3), l.GetTailPosition());
  EXPECT_EQ(l.FindIndex(4), nullptr);
  EXPECT_EQ(l.FindIndex(-1), nullptr);
}

TEST(CStringListTest, AddListKeepsOrderEvenForItself) {
  CStringList l;
  l.AddTail("1");
  l.AddTail("2");
  CStringList other;
  other.AddTail("a");
  other.AddTail("b");
  l.AddHead(&other);
  EXPECT_EQ(contents(l), (Strings{"a", "b", "1", "2"}));
  l.AddTail(&l);
  EXPECT_EQ(l.GetCount(), 8);
  l.AddHead(&other);
  EXPECT_EQ(contents(l), (Strings{"a", "b", "a", "b", "1", "2", "a", "b", "1", "2"}));
}

TEST(CollectionsTest, RuntimeClasses) {
  CStringList l;
  CStringArray a;
  EXPECT_TRUE(l.IsKindOf(RUNTIME_CLASS(CObject)));
  EXPECT_FALSE(l.IsKindOf(RUNTIME_CLASS(CStringArray)));
  EXPECT_TRUE(a.IsKindOf(RUNTIME_CLASS(CStringArray)));
  CObject *created = RUNTIME_CLASS(CStringList)->CreateObject();
  ASSERT_NE(created, nullptr);
  EXPECT_STREQ(created->GetRuntimeClass()->m_lpszClassName, "CStringList");
  delete created;
}

} // namespace
