// Tests of CObject and CRuntimeClass: the base chain, dynamic creation, the allocation hook.
#include <velmora/afx.h>

#include <gtest/gtest.h>

#include <new>
#include <vector>

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

class CCat : public CAnimal {
  DECLARE_DYNAMIC(CCat)
};
IMPLEMENT_DYNAMIC(CCat, CAnimal)

namespace {

TEST(CObjectTest, IsKindOfFollowsTheBaseChain) {
  CPuppy puppy;
  CCat cat;
  struct Case {
    const char *name;
    const CObject &object;
    CRuntimeClass *cls;
    bool kind;
  } cases[] = {
      {"puppy is puppy", puppy, RUNTIME_CLASS(CPuppy), true},
      {"puppy is dog", puppy, RUNTIME_CLASS(CDog), true},
      {"puppy is animal", puppy, RUNTIME_CLASS(CAnimal), true},
      {"puppy is object", puppy, RUNTIME_CLASS(CObject), true},
      {"puppy is not cat", puppy, RUNTIME_CLASS(CCat), false},
      {"cat is not dog", cat, RUNTIME_CLASS(CDog), false},
      {"cat is animal", cat, RUNTIME_CLASS(CAnimal), true},
      {"nothing is exception", cat, RUNTIME_CLASS(CException), false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.object.IsKindOf(c.cls) != FALSE, c.kind);
  }
  EXPECT_EQ(DYNAMIC_DOWNCAST(CDog, &puppy), &puppy);
  EXPECT_EQ(DYNAMIC_DOWNCAST(CDog, static_cast<CObject *>(&cat)), nullptr);
  EXPECT_EQ(DYNAMIC_DOWNCAST(CDog, static_cast<CObject *>(nullptr)), nullptr);
}

TEST(CObjectTest, RuntimeClassRecords) {
  const CRuntimeClass &rec = CDog::classCDog;
  EXPECT_STREQ(rec.m_lpszClassName, "CDog");
  EXPECT_EQ(rec.m_nObjectSize, static_cast<int>(sizeof(CDog)));
  EXPECT_EQ(rec.m_wSchema, 0xFFFFu);
  EXPECT_EQ(rec.m_pfnGetBaseClass(), RUNTIME_CLASS(CAnimal));
  EXPECT_EQ(CObject::classCObject.m_pfnGetBaseClass, nullptr);
  EXPECT_EQ(RUNTIME_CLASS(CDog), _RUNTIME_CLASS(CDog));
  CDog dog;
  const CObject &asObject = dog;
  EXPECT_EQ(asObject.GetRuntimeClass(), RUNTIME_CLASS(CDog));
  EXPECT_FALSE(dog.IsSerializable());
  EXPECT_TRUE(RUNTIME_CLASS(CException)->IsDerivedFrom(RUNTIME_CLASS(CObject)));
  EXPECT_FALSE(RUNTIME_CLASS(CObject)->IsDerivedFrom(RUNTIME_CLASS(CException)));
}

TEST(CObjectTest, CreateObject) {
  CObject *made = RUNTIME_CLASS(CPuppy)->CreateObject();
  ASSERT_NE(made, nullptr);
  EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CPuppy)));
  EXPECT_EQ(static_cast<CDog *>(made)->m_nBarks, 3);
  delete made;
  EXPECT_EQ(RUNTIME_CLASS(CCat)->CreateObject(), nullptr); // dynamic only, not creatable
}

// Records the hook's calls; refuses object allocations while `refuse` is set.
struct HookLog {
  static inline bool refuse = false;
  static inline std::vector<size_t> objectSizes;
  static inline LONG lastRequest = 0;
  static BOOL hook(size_t nSize, BOOL bObject, LONG lRequestNumber) {
    EXPECT_GT(lRequestNumber, lastRequest);
    lastRequest = lRequestNumber;
    if (bObject)
      objectSizes.push_back(nSize);
    return refuse && bObject ? FALSE : TRUE;
  }
};

class AllocHookTest : public ::testing::Test {
protected:
  void SetUp() override {
    HookLog::refuse = false;
    HookLog::objectSizes.clear();
    HookLog::lastRequest = 0;
    previous_ = AfxSetAllocHook(&HookLog::hook);
  }
  void TearDown() override { EXPECT_EQ(AfxSetAllocHook(previous_), &HookLog::hook); }
  AFX_ALLOC_HOOK previous_ = nullptr;
};

TEST_F(AllocHookTest, ObjectAllocationsPassTheHook) {
  CDog *dog = new CDog;
  delete dog;
  ASSERT_EQ(HookLog::objectSizes.size(), 1u);
  EXPECT_EQ(HookLog::objectSizes[0], sizeof(CDog));

  HookLog::refuse = true;
  EXPECT_EQ(new (std::nothrow) CDog, nullptr);
  try {
    new CDog;
    ADD_FAILURE() << "no exception";
  } catch (CException *e) {
    EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CMemoryException)));
    e->Delete();
  }
  EXPECT_EQ(RUNTIME_CLASS(CDog)->CreateObject(), nullptr); // the failure is absorbed
  CString stillWorks("strings are not objects");
  EXPECT_EQ(stillWorks.GetLength(), 23);
}

} // namespace
