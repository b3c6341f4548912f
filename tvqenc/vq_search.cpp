// Two-codebook search with precomputed correlations: the error of a pair is
//   T - 2 s0 c0[i0] - 2 s1 c1[i1] + e0[i0] + e1[i1] + 2 s0 s1 x(i0, i1),
// with T = sum w t^2, c = sum w t cb, e = sum w cb^2, x = sum w cb0 cb1.
#include "vq_search.h"

#include <algorithm>
#include <cmath>

namespace tvqenc {

namespace {

constexpr int32_t kMaxEntries = 64;

struct BookStats {
  float c[kMaxEntries], e[kMaxEntries];
};

// Correlations of every entry at once, one vector value at a time: 64-wide loops the
// compiler vectorises. Float sums rank the entries; the caller's error is recomputed exactly.
void Stats(const Codebook& cb, const float* wt, const float* w, int32_t length, BookStats* s) {
  float c[kBookEntries] = {0.0f}, e[kBookEntries] = {0.0f};
  for (int32_t j = 0; j < length; ++j) {
    const float* column = cb.columns + j * kBookEntries;
    const float a = wt[j], b = w[j];
    for (int32_t i = 0; i < kBookEntries; ++i) {
      c[i] += a * column[i];
      e[i] += b * column[i] * column[i];
    }
  }
  std::copy(c, c + kBookEntries, s->c);
  std::copy(e, e + kBookEntries, s->e);
}

// Best error of one entry on its own, and its sign.
double AloneError(const Codebook& cb, const BookStats& s, int32_t i) {
  const double c = cb.Signed() ? std::fabs(s.c[i]) : s.c[i];
  return s.e[i] - 2.0 * c;
}

int32_t Preselect(const Codebook& cb, const BookStats& s, int32_t count, int32_t* chosen) {
  const int32_t entries = cb.Entries();
  if (count <= 0 || count >= entries) {
    for (int32_t i = 0; i < entries; ++i) chosen[i] = i;
    return entries;
  }
  // Insertion into a short sorted list: the `count` lowest errors, earlier entries first.
  double best[kMaxEntries];
  int32_t filled = 0;
  for (int32_t i = 0; i < entries; ++i) {
    const double score = AloneError(cb, s, i);
    if (filled == count && score >= best[count - 1]) continue;
    int32_t at = filled < count ? filled++ : count - 1;
    while (at > 0 && best[at - 1] > score) {
      best[at] = best[at - 1];
      chosen[at] = chosen[at - 1];
      --at;
    }
    best[at] = score;
    chosen[at] = i;
  }
  return count;
}

}  // namespace

void TransposeBook(const float* values, int32_t stride, float* columns) {
  for (int32_t e = 0; e < kBookEntries; ++e) {
    for (int32_t j = 0; j < stride; ++j) columns[j * kBookEntries + e] = values[e * stride + j];
  }
}

void DecodeVq(const Codebook& cb0, const Codebook& cb1, int32_t field0, int32_t field1,
              int32_t length, float* out) {
  const int32_t mask0 = cb0.Entries() - 1, mask1 = cb1.Entries() - 1;
  const int32_t s0 = cb0.Signed() && (field0 >> 6) ? -1 : 1;
  const int32_t s1 = cb1.Signed() && (field1 >> 6) ? -1 : 1;
  const float* v0 = cb0.values + (field0 & mask0) * cb0.stride;
  const float* v1 = cb1.values + (field1 & mask1) * cb1.stride;
  for (int32_t j = 0; j < length; ++j) out[j] = s0 * v0[j] + s1 * v1[j];
}

VqChoice SearchVq(const Codebook& cb0, const Codebook& cb1, const float* target,
                  const float* weight, int32_t length, int32_t preselect) {
  BookStats s0, s1;
  float wt[kMaxVectorLength];
  double total = 0.0;
  for (int32_t j = 0; j < length; ++j) {
    wt[j] = weight[j] * target[j];
    total += double(wt[j]) * target[j];
  }
  Stats(cb0, wt, weight, length, &s0);
  Stats(cb1, wt, weight, length, &s1);

  int32_t list0[kMaxEntries], list1[kMaxEntries];
  const int32_t n0 = Preselect(cb0, s0, preselect, list0);
  const int32_t n1 = Preselect(cb1, s1, preselect, list1);
  const int32_t signs0 = cb0.Signed() ? 2 : 1, signs1 = cb1.Signed() ? 2 : 1;

  VqChoice best{0, 0, HUGE_VAL};
  for (int32_t a = 0; a < n0; ++a) {
    const int32_t i0 = list0[a];
    const float* v0 = cb0.values + i0 * cb0.stride;
    for (int32_t b = 0; b < n1; ++b) {
      const int32_t i1 = list1[b];
      const float* v1 = cb1.values + i1 * cb1.stride;
      float x = 0.0f;
      for (int32_t j = 0; j < length; ++j) x += weight[j] * v0[j] * v1[j];
      for (int32_t g0 = 0; g0 < signs0; ++g0) {
        const double sign0 = g0 ? -1.0 : 1.0;
        for (int32_t g1 = 0; g1 < signs1; ++g1) {
          const double sign1 = g1 ? -1.0 : 1.0;
          const double error = total - 2.0 * (sign0 * s0.c[i0] + sign1 * s1.c[i1]) + s0.e[i0] +
                               s1.e[i1] + 2.0 * sign0 * sign1 * x;
          if (error < best.error) {
            best.error = error;
            best.field0 = i0 | (g0 ? 64 : 0);
            best.field1 = i1 | (g1 ? 64 : 0);
          }
        }
      }
    }
  }
  if (!(best.error < HUGE_VAL)) best = VqChoice{0, 0, total};  // weights or target not finite
  return best;
}

}  // namespace tvqenc
