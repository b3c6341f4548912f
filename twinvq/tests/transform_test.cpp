// The fast half-IMDCT against its defining sum, at every block size the modes use.
#include "imdct.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

TEST(TwinVqTransform, HalfImdctEqualsItsDefinition) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> value(-30000.0f, 30000.0f);
  for (int32_t n : {32, 64, 128, 256, 512, 1024, 2048}) {
    const double scale = 0.37 / n;
    twinvq::HalfImdct imdct;
    imdct.Init(n, scale);
    std::vector<float> in(n), out(n);
    for (float& v : in) v = value(rng);
    imdct.Run(in.data(), out.data());
    double largest = 0, worst = 0;
    for (int32_t j = 0; j < n; ++j) {
      double sum = 0;
      for (int32_t k = 0; k < n; ++k) {
        sum += in[k] * std::cos(3.14159265358979323846 / n * (j + n + 0.5) * (k + 0.5));
      }
      largest = std::max(largest, std::fabs(scale * sum));
      worst = std::max(worst, std::fabs(scale * sum - out[j]));
    }
    EXPECT_LE(worst, largest * 1e-6) << "n = " << n;  // float output rounding only
  }
}

}  // namespace
