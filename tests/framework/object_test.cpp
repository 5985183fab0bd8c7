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

namespace {

TEST(CObjectTest, IsKindOfFollowsTheBaseChainUpOnly) {
  CDog dog;
  EXPECT_TRUE(dog.IsKindOf(RUNTIME_CLASS(CObject)));
  CAnimal animal;
  EXPECT_FALSE(animal.IsKindOf(RUNTIME_CLASS(CDog))); // never down the chain
  EXPECT_FALSE(animal.IsKindOf(RUNTIME_CLASS(CException)));
}

TEST(CObjectTest, CreateObject) {
  CObject *made = RUNTIME_CLASS(CDog)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetRuntimeClass(), RUNTIME_CLASS(CDog));
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
