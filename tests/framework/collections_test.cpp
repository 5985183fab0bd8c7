// Tests of CStringArray and CStringList: insertion and removal bounds, positions.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

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
