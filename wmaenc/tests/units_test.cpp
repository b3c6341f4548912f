#include <gtest/gtest.h>

#include "stream_setup.h"
#include "tables.h"

namespace {

// Each run-level table's runs per level account for all its codes but the escape and the
// end of block.
TEST(WmaencTables, RunsPerLevelCoverEveryCode) {
  for (int32_t t = 0; t < 6; ++t) {
    const wmaenc::CoefTable& c = wmaenc::CoefficientTable(t);
    int32_t sum = 2;
    for (int32_t l = 0; l < c.levels; ++l) sum += c.runsPerLevel[l];
    EXPECT_EQ(sum, c.count) << "table " << t;
  }
}

}  // namespace
