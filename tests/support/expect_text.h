// Assertions that a text holds, or lacks, a part; a failure shows both.
#pragma once

#include <gtest/gtest.h>

#define EXPECT_HAS(text, part) EXPECT_PRED_FORMAT2(::testing::IsSubstring, part, text)
#define ASSERT_HAS(text, part) ASSERT_PRED_FORMAT2(::testing::IsSubstring, part, text)
#define EXPECT_LACKS(text, part) EXPECT_PRED_FORMAT2(::testing::IsNotSubstring, part, text)
