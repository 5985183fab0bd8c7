// The save/load exception: its fields, its run-time class and throwing it by pointer.
#include <velmora/errors.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(SaveLoadException, FieldsFromEitherConstructor) {
  suSaveLoadException_c numbers(12, 3);
  EXPECT_EQ(numbers.m_errorId, 12);
  EXPECT_EQ(numbers.m_errorInfo, 3);
  EXPECT_TRUE(numbers.m_errorText.IsEmpty());

  CString text = "disk gone";
  suSaveLoadException_c fromText(text, 3);
  EXPECT_EQ(fromText.m_errorId, -1);
  EXPECT_EQ(fromText.m_errorInfo, 3);
  EXPECT_EQ(fromText.m_errorText, "disk gone");
  EXPECT_EQ(text, "disk gone");

  // Nothing but the fields tells these two apart, and the fields agree.
  suSaveLoadException_c a(-1, 0), b(CString(), 0);
  EXPECT_EQ(a.m_errorId, b.m_errorId);
  EXPECT_EQ(a.m_errorInfo, b.m_errorInfo);
  EXPECT_EQ(a.m_errorText, b.m_errorText);
}

TEST(SaveLoadException, RuntimeClassRecord) {
  const CRuntimeClass *record = RUNTIME_CLASS(suSaveLoadException_c);
  EXPECT_STREQ(record->m_lpszClassName, "suSaveLoadException_c");
  EXPECT_EQ(record->m_nObjectSize, static_cast<int>(sizeof(suSaveLoadException_c)));
  EXPECT_EQ(record->m_wSchema, 0xFFFFu);
  EXPECT_EQ(record->m_pfnCreateObject, nullptr);
  EXPECT_EQ(record->m_pNextClass, nullptr);
  ASSERT_NE(record->m_pfnGetBaseClass, nullptr);
  EXPECT_EQ(record->m_pfnGetBaseClass(), RUNTIME_CLASS(CException));
}

TEST(SaveLoadException, TypeTestsAfterThrowingByPointer) {
  try {
    throw new suSaveLoadException_c(CString("bad header"), 7);
  } catch (CException *e) {
    EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CException)));
    ASSERT_TRUE(e->IsKindOf(RUNTIME_CLASS(suSaveLoadException_c)));
    auto *saveLoad = static_cast<suSaveLoadException_c *>(e);
    EXPECT_EQ(saveLoad->m_errorInfo, 7);
    // The framework's defaults: no message of its own.
    char message[64] = "x";
    EXPECT_FALSE(e->GetErrorMessage(message, sizeof message));
    EXPECT_STREQ(message, "");
    e->Delete();
  }
  CMemoryException plain;
  EXPECT_FALSE(plain.IsKindOf(RUNTIME_CLASS(suSaveLoadException_c)));
}

} // namespace
