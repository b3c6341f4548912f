// The contract header compiles in both Windows builds and keeps the host's record layout.
#include "vell_filter.h"

#include <gtest/gtest.h>

TEST(FilterQueryLayout, FieldsEndWhereTheHostExpects) {
  EXPECT_EQ(sizeof(FilterQuery), 148u);
  EXPECT_EQ(sizeof(FilterQuery::capabilityWords), 28u);
  EXPECT_EQ(VELL_FILTER_QUERY_RESULT, 1154);
  EXPECT_EQ(FILTER_CAN_WRITE | FILTER_CAN_READ | FILTER_HAS_OPTIONS, 0x106u);
}
