// The model-example flag keeps whatever the host stored.
#include <velmora/frame.h>

#include <gtest/gtest.h>

TEST(ModelExampleFlag, StartsAtZeroAndKeepsTheStoredValue) {
  EXPECT_EQ(ut_isModelExample(), 0);
  setSaveModelAsExample(7);
  EXPECT_EQ(ut_isModelExample(), 7);
  setSaveModelAsExample(-1);
  EXPECT_EQ(ut_isModelExample(), -1);
  setSaveModelAsExample(0);
}
