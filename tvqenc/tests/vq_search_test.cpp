// The two-codebook search against a brute-force reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "stream_setup.h"
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

// The search written out plainly: correlations per entry, each book's `count` best by
// insertion (lowest score, earlier entry first), then every pair and sign in order.
VqChoice PlainSearch(const Codebook& cb0, const Codebook& cb1, const float* t, const float* w,
                     int32_t length, int32_t count) {
  const Codebook* books[2] = {&cb0, &cb1};
  float c[2][64], e[2][64];
  std::vector<int32_t> list[2];
  double total = 0.0;
  float wt[kMaxVectorLength];
  for (int32_t j = 0; j < length; ++j) {
    wt[j] = w[j] * t[j];
    total += double(wt[j]) * t[j];
  }
  for (int32_t k = 0; k < 2; ++k) {
    const Codebook& cb = *books[k];
    std::vector<std::pair<float, int32_t>> scored;
    for (int32_t i = 0; i < cb.Entries(); ++i) {
      c[k][i] = e[k][i] = 0.0f;
      for (int32_t j = 0; j < length; ++j) {
        const float v = cb.values[i * cb.stride + j];
        c[k][i] += wt[j] * v;
        e[k][i] += w[j] * v * v;
      }
      scored.push_back({e[k][i] - 2.0f * (cb.Signed() ? std::fabs(c[k][i]) : c[k][i]), i});
    }
    std::stable_sort(scored.begin(), scored.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    const bool all = count <= 0 || count >= cb.Entries();
    for (int32_t i = 0; i < (all ? cb.Entries() : count); ++i) {
      list[k].push_back(all ? i : scored[i].second);
    }
  }
  // Errors in floats less the target's own weighted power, the least kept in this order.
  VqChoice best{0, 0, HUGE_VAL};
  float bestRest = HUGE_VALF;
  for (int32_t i0 : list[0]) {
    for (int32_t i1 : list[1]) {
      float x = 0.0f;
      const float* v0 = cb0.values + i0 * cb0.stride;
      const float* v1 = cb1.values + i1 * cb1.stride;
      for (int32_t j = 0; j < length; ++j) x += w[j] * v0[j] * v1[j];
      // Each sign of the first entry with the second's best sign: the error's terms in s1
      // are -2 s1 (c1 - s0 x), so s1 is the sign of c1 - s0 x (plus at zero).
      for (int32_t g0 = 0; g0 < (cb0.Signed() ? 2 : 1); ++g0) {
        const float s0 = g0 ? -1.0f : 1.0f;
        const float rest = c[1][i1] - s0 * x;
        const bool minus1 = cb1.Signed() && rest < 0.0f;
        const float error = (e[0][i0] - 2.0f * (s0 * c[0][i0]) + e[1][i1]) -
                            2.0f * (cb1.Signed() ? std::fabs(rest) : rest);
        if (error < bestRest) {
          bestRest = error;
          best = VqChoice{i0 | (g0 ? 64 : 0), i1 | (minus1 ? 64 : 0), total + double(error)};
        }
      }
    }
  }
  return best;
}

TEST(VqSearch, EveryPathChoosesAsThePlainSearch) {
  // Random books with repeated entries (equal scores, where only the order rule decides),
  // random, zero and sparse weights; every path must give the plain search's choice and
  // error exactly. Where the processor lacks AVX2 only the plain path runs.
  std::mt19937 random(3);
  std::uniform_int_distribution<int> value(-3000, 3000), pick(0, 63);
  std::uniform_real_distribution<float> weight(0.0f, 2.0f);
  const int32_t stride = 24;
  std::vector<float> book0(64 * stride), book1(64 * stride);
  std::vector<float> columns0(64 * stride), columns1(64 * stride);
  for (float& v : book0) v = static_cast<float>(value(random));
  for (float& v : book1) v = static_cast<float>(value(random));
  for (int32_t copy = 0; copy < 6; ++copy) {
    std::copy_n(&book0[pick(random) * stride], stride, &book0[pick(random) * stride]);
    std::copy_n(&book1[pick(random) * stride], stride, &book1[pick(random) * stride]);
  }
  TransposeBook(book0.data(), stride, columns0.data());
  TransposeBook(book1.data(), stride, columns1.data());
  const int32_t preselects[] = {0, 5, 8, 16, 24, 32};  // all, and lists of odd and even lengths
  int32_t compared = 0;
  // Every list length with each second book (signed, 64 entries; 32 entries, the lists'
  // bound then from groups), with a signed and an unsigned first book.
  for (int32_t trial = 0; trial < 360; ++trial) {
    const int32_t length = 1 + trial % stride, preselect = preselects[(trial / 3) % 6];
    const int32_t bits0 = (trial / 18) % 2 ? 6 : 7, bits1 = 7 - trial % 3;
    const Codebook cb0{book0.data(), columns0.data(), stride, bits0};
    const Codebook cb1{book1.data(), columns1.data(), stride, bits1};
    float t[kMaxVectorLength], w[kMaxVectorLength];
    for (int32_t j = 0; j < length; ++j) {
      t[j] = static_cast<float>(value(random)) * (trial % 7 == 0 ? 0.0f : 1.0f);
      w[j] = trial % 11 == 0 ? 0.0f : trial % 5 == 0 && j % 3 ? 0.0f : weight(random);
    }
    const VqChoice want = PlainSearch(cb0, cb1, t, w, length, preselect);
    for (VqPath path : {VqPath::kPlain, VqPath::kAvx2}) {
      if (!VqPathAvailable(path)) continue;
      const VqChoice got = SearchVqOn(path, cb0, cb1, t, w, length, preselect);
      ASSERT_EQ(got.field0, want.field0) << trial << " path " << int(path);
      ASSERT_EQ(got.field1, want.field1) << trial << " path " << int(path);
      ASSERT_EQ(got.error, want.error) << trial << " path " << int(path);
      ++compared;
    }
  }
  EXPECT_GE(compared, 360);
}

TEST(VqSearch, ScaledStatisticsAreTheChannelsSumBitForBit) {
  // Each channel's unit-gain statistics times its gain (c) or squared gain (e), summed over
  // the channels from zero in channel order: float for float, the sign of a zero included
  // (0 + -0 is +0), on the fastest path, as a long frame's gain scan reads them.
  std::mt19937 random(5);
  std::uniform_real_distribution<float> stat(-4.0e6f, 4.0e6f);
  VqStats unit[2];
  for (VqStats& u : unit) {
    for (int32_t e = 0; e < kBookEntries; ++e) u.c[e] = stat(random), u.e[e] = std::fabs(stat(random));
  }
  unit[0].c[3] = unit[1].c[3] = -0.0f;
  unit[0].e[5] = 0.0f;
  const float gains[][2] = {{1.0f, 1.0f}, {0.37f, 2.9f}, {1.0e-3f, 613.0f}};
  for (int32_t channels = 1; channels <= 2; ++channels) {
    for (const auto& g : gains) {
      VqStats want, got;
      for (int32_t e = 0; e < kBookEntries; ++e) {
        float c = 0.0f + g[0] * unit[0].c[e], v = 0.0f + (g[0] * g[0]) * unit[0].e[e];
        if (channels == 2) c += g[1] * unit[1].c[e], v += (g[1] * g[1]) * unit[1].e[e];
        want.c[e] = c;
        want.e[e] = v;
      }
      ScaleVqStats(unit, g, channels, &got);
      EXPECT_EQ(std::memcmp(got.c, want.c, sizeof want.c), 0) << channels << " " << g[0];
      EXPECT_EQ(std::memcmp(got.e, want.e, sizeof want.e), 0) << channels << " " << g[0];
      EXPECT_FALSE(std::signbit(got.c[3]));
    }
  }
}

// The preselected search against the exhaustive one on the codec's own long-block books
// (44/48 stereo), random targets at the codebook's scale under weights spread over 40 dB as
// the masking weights are: the mean and the worst ratio of the weighted errors, for the
// encoder's two widths (its gain scan's and its final search's). Measured: 16 entries a book
// 1.210 / 3.07, 32 entries 1.057 / 2.38; bounds just above, so that a wider or cheaper
// search has its gain or loss to show against them.
TEST(VqSearch, PreselectionStaysNearTheExhaustiveSearch) {
  twinvq::StreamSetup setup;
  ASSERT_TRUE(setup.Init(44, 48, 2));
  const twinvq::VectorPart& p = setup.part(twinvq::kLongBlock);
  const std::vector<float>* books = p.paddedBook;  // as the encoder reads them
  std::vector<float> columns[2];
  for (int32_t b = 0; b < 2; ++b) {
    columns[b].resize(books[b].size());
    TransposeBook(books[b].data(), p.paddedStride, columns[b].data());
  }
  const Codebook cb0{books[0].data(), columns[0].data(), p.paddedStride, p.FirstBits(0)};
  const Codebook cb1{books[1].data(), columns[1].data(), p.paddedStride, p.SecondBits(0)};
  double rms = 0.0;
  const int32_t size = 64 * p.codebookStride;
  for (int32_t i = 0; i < size; ++i) rms += double(p.codebook[0][i]) * p.codebook[0][i] / size;
  rms = std::sqrt(2.0 * rms);
  struct Case { int32_t preselect; double meanBound, worstBound; };
  for (const Case& c : {Case{16, 1.23, 3.2}, Case{32, 1.065, 2.5}}) {
    std::mt19937 random(17);
    std::normal_distribution<float> value(0.0f, static_cast<float>(rms));
    std::uniform_real_distribution<float> decibels(-20.0f, 20.0f);
    const int32_t length = p.VectorLength(0), trials = 400;
    double sum = 0.0, worst = 0.0;
    for (int32_t trial = 0; trial < trials; ++trial) {
      float t[kMaxVectorLength], w[kMaxVectorLength];
      for (int32_t j = 0; j < length; ++j) {
        t[j] = value(random);
        w[j] = std::pow(10.0f, decibels(random) / 10.0f);
      }
      const VqChoice all = SearchVq(cb0, cb1, t, w, length, 0);
      const VqChoice quick = SearchVq(cb0, cb1, t, w, length, c.preselect);
      const double ratio = Error(cb0, cb1, quick, t, w, length) / Error(cb0, cb1, all, t, w, length);
      ASSERT_GE(ratio, 1.0 - 1e-4) << "the exhaustive search lost, trial " << trial;
      sum += ratio;
      worst = std::max(worst, ratio);
    }
    std::printf("preselect %d: error ratio mean %.3f, worst %.2f\n", c.preselect, sum / trials, worst);
    EXPECT_LT(sum / trials, c.meanBound) << c.preselect;
    EXPECT_LT(worst, c.worstBound) << c.preselect;
  }
}

}  // namespace
}  // namespace tvqenc
