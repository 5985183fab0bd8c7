// Tests of CObject and CRuntimeClass: the base chain and dynamic creation.
#include <velmora/afx.h>

#include <gtest/gtest.h>

class CAnimal : public CObject {
  DECLARE_DYNAMIC(CAnimal)
};
IMPLEMENT_DYNAMIC(CAnimal, CObject)

class CDog : public CAnimal {
  DECLARE_DYNCREATE(CDog)
public:
  int m_nBarks = 3;
};
IMPLEMENT_DYNCREATE(CDog, CAnimal)

class CPuppy : public CDog {
  DECLARE_DYNCREATE(CPuppy)
};
IMPLEMENT_DYNCREATE(CPuppy, CDog)

namespace {

TEST(CObjectTest, IsKindOfFollowsTheBaseChain) {
  CPuppy puppy;
  CAnimal animal;
  const struct {
    const char *name;
    const CObject &object;
    CRuntimeClass *cls;
    bool kind;
  } cases[] = {{"puppy is puppy", puppy, RUNTIME_CLASS(CPuppy), true},
               {"puppy is dog", puppy, RUNTIME_CLASS(CDog), true},
               {"puppy is animal", puppy, RUNTIME_CLASS(CAnimal), true},
               {"puppy is object", puppy, RUNTIME_CLASS(CObject), true},
               {"animal is not dog", animal, RUNTIME_CLASS(CDog), false},
               {"animal is not exception", animal, RUNTIME_CLASS(CException), false}};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.object.IsKindOf(c.cls) != FALSE, c.kind);
  }
}

TEST(CObjectTest, CreateObject) {
  CObject *made = RUNTIME_CLASS(CPuppy)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetRuntimeClass(), RUNTIME_CLASS(CPuppy));
  EXPECT_EQ(static_cast<CDog *>(made)->m_nBarks, 3);
  delete made;
  EXPECT_EQ(RUNTIME_CLASS(CAnimal)->CreateObject(), nullptr); // dynamic only, not creatable

  // A refused allocation is absorbed.
  AFX_ALLOC_HOOK previous = AfxSetAllocHook([](size_t, BOOL, LONG) -> BOOL { return FALSE; });
  CObject *refused = RUNTIME_CLASS(CDog)->CreateObject();
  AfxSetAllocHook(previous);
  EXPECT_EQ(refused, nullptr);
}

} // namespace
