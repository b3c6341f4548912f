// The two-codebook search against a brute-force reference.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "vq_search.h"

namespace tvqenc {
namespace {

double Error(const Codebook& cb0, const Codebook& cb1, const VqChoice& c, const float* t,
             const float* w, int32_t length) {
  float decoded[kMaxVectorLength];
  DecodeVq(cb0, cb1, c.field0, c.field1, length, decoded);
  double e = 0.0;
  for (int32_t j = 0; j < length; ++j) e += w[j] * (t[j] - decoded[j]) * (t[j] - decoded[j]);
  return e;
}

TEST(VqSearch, FindsTheBestPairAndPreselectionNeverBeatsIt) {
  std::mt19937 random(11);
  std::uniform_int_distribution<int> value(-3000, 3000);
  std::uniform_real_distribution<float> weight(0.1f, 2.0f);
  const int32_t stride = 20, length = 17;
  std::vector<float> book0(64 * stride), book1(64 * stride);
  for (float& v : book0) v = static_cast<float>(value(random));
  for (float& v : book1) v = static_cast<float>(value(random));
  std::vector<float> columns0(64 * stride), columns1(64 * stride);
  TransposeBook(book0.data(), stride, columns0.data());
  TransposeBook(book1.data(), stride, columns1.data());
  for (int32_t bits1 : {7, 6}) {
    const Codebook cb0{book0.data(), columns0.data(), stride, 7};
    const Codebook cb1{book1.data(), columns1.data(), stride, bits1};
    // An exact combination (minus, plus) is found with zero error.
    std::vector<float> t(length), w(length);
    for (int32_t j = 0; j < length; ++j) {
      t[j] = static_cast<float>(-book0[23 * stride + j] + book1[41 * stride + j]);
      w[j] = weight(random);
    }
    double total = 0.0;
    for (int32_t j = 0; j < length; ++j) total += w[j] * t[j] * t[j];
    const VqChoice exact = SearchVq(cb0, cb1, t.data(), w.data(), length, 0);
    EXPECT_EQ(exact.field0, 64 | 23);
    EXPECT_EQ(exact.field1, 41);
    EXPECT_NEAR(exact.error, 0.0, 1e-5 * total);  // float rounding of terms near 1e9
    // Random targets: the reported error is the decoded error, and the full search is at
    // least as good as brute force over every field value and as the preselected search.
    for (int trial = 0; trial < 5; ++trial) {
      for (float& v : t) v = static_cast<float>(value(random));
      const VqChoice full = SearchVq(cb0, cb1, t.data(), w.data(), length, 0);
      const VqChoice quick = SearchVq(cb0, cb1, t.data(), w.data(), length, 8);
      const double fullError = Error(cb0, cb1, full, t.data(), w.data(), length);
      EXPECT_NEAR(full.error, fullError, 1e-4 * fullError + 1.0);  // float sums
      EXPECT_GE(Error(cb0, cb1, quick, t.data(), w.data(), length), fullError * (1 - 1e-4));
      double brute = HUGE_VAL;
      for (int32_t f0 = 0; f0 < 128; ++f0) {
        for (int32_t f1 = 0; f1 < (1 << bits1); ++f1) {
          brute = std::min(brute, Error(cb0, cb1, VqChoice{f0, f1, 0}, t.data(), w.data(), length));
        }
      }
      EXPECT_NEAR(fullError, brute, 1e-4 * brute + 1.0);
    }
  }
}

}  // namespace
}  // namespace tvqenc
