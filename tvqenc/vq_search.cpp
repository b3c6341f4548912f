// Two-codebook search with precomputed correlations: the error of a pair is
//   T - 2 s0 c0[i0] - 2 s1 c1[i1] + e0[i0] + e1[i1] + 2 s0 s1 x(i0, i1),
// with T = sum w t^2, c = sum w t cb, e = sum w cb^2, x = sum w cb0 cb1.
//
// The float sums run over the vector's values one at a time, each codebook entry (or pair of
// entries) in its own lane, so a wider vector unit gives the very same sums; the file is
// compiled without contraction into fused multiply-adds for that reason.
#include "vq_search.h"

#include "processor_features.h"

#include <algorithm>
#include <cmath>

// The AVX2 path is built for x86 with GCC or clang and used where the processor has AVX2
// and the plain path's float arithmetic is SSE too (x86-64, and the 32-bit build, which is
// compiled for SSE2; a 32-bit build on x87 would round differently), so that both round alike.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TVQENC_AVX2_PATH 1
#define TVQENC_INLINE inline __attribute__((always_inline))
#else
#define TVQENC_AVX2_PATH 0
#define TVQENC_INLINE inline
#endif

namespace tvqenc {

namespace {

constexpr int32_t kMaxEntries = 64;
constexpr int32_t kLanes = 8;  // the pair matrix's rows are padded to this many entries
// Preselection counts the places of tied candidates for up to this many; more (silence makes
// every score equal) go through insertion.
constexpr int32_t kTiedCandidates = 32;

struct BookStats {
  float c[kMaxEntries], e[kMaxEntries];
};

// c[i] = sum_j wt_j column_j[i], e[i] = sum_j w_j column_j[i]^2 for all 64 entries.
TVQENC_INLINE void StatsLoop(const float* columns, const float* wt, const float* w,
                             int32_t length, float* __restrict c, float* __restrict e) {
  for (int32_t i = 0; i < kBookEntries; ++i) c[i] = e[i] = 0.0f;
  for (int32_t j = 0; j < length; ++j) {
    const float* column = columns + j * kBookEntries;
    const float a = wt[j], b = w[j];
    for (int32_t i = 0; i < kBookEntries; ++i) {
      c[i] += a * column[i];
      e[i] += b * column[i] * column[i];
    }
  }
}

// x[a][b] = sum_j u_j[a] g_j[b] for a < n0 and b < width (a multiple of kLanes), where
// u_j[a] = w_j v0[a]_j and g_j[b] = v1[b]_j are stored value after value (row j at j * 64).
// Rows a .. a + 3 at once (four independent sums per value b), width W known when W > 0.
template <int32_t W>
TVQENC_INLINE void CrossRows4(const float* u, const float* g, int32_t length, int32_t a,
                              int32_t width, float (*__restrict x)[kMaxEntries]) {
  const int32_t w = W > 0 ? W : width;
  float r0[kMaxEntries], r1[kMaxEntries], r2[kMaxEntries], r3[kMaxEntries];
  for (int32_t b = 0; b < w; ++b) r0[b] = r1[b] = r2[b] = r3[b] = 0.0f;
  for (int32_t j = 0; j < length; ++j) {
    const float* uj = u + j * kMaxEntries + a;
    const float u0 = uj[0], u1 = uj[1], u2 = uj[2], u3 = uj[3];
    const float* gj = g + j * kMaxEntries;
    for (int32_t b = 0; b < w; ++b) {
      r0[b] += u0 * gj[b];
      r1[b] += u1 * gj[b];
      r2[b] += u2 * gj[b];
      r3[b] += u3 * gj[b];
    }
  }
  for (int32_t b = 0; b < w; ++b) {
    x[a][b] = r0[b];
    x[a + 1][b] = r1[b];
    x[a + 2][b] = r2[b];
    x[a + 3][b] = r3[b];
  }
}

TVQENC_INLINE void CrossLoop(const float* u, const float* g, int32_t length, int32_t n0,
                             int32_t width, float (*__restrict x)[kMaxEntries]) {
  int32_t a = 0;
  for (; a + 4 <= n0; a += 4) {
    switch (width) {  // the widths the encoder's preselections give, unrolled
      case 8: CrossRows4<8>(u, g, length, a, width, x); break;
      case 16: CrossRows4<16>(u, g, length, a, width, x); break;
      case 24: CrossRows4<24>(u, g, length, a, width, x); break;
      case 32: CrossRows4<32>(u, g, length, a, width, x); break;
      default: CrossRows4<0>(u, g, length, a, width, x); break;
    }
  }
  for (; a < n0; ++a) {
    float row[kMaxEntries];
    for (int32_t b = 0; b < width; ++b) row[b] = 0.0f;
    for (int32_t j = 0; j < length; ++j) {
      const float ua = u[j * kMaxEntries + a];
      const float* gj = g + j * kMaxEntries;
      for (int32_t b = 0; b < width; ++b) row[b] += ua * gj[b];
    }
    for (int32_t b = 0; b < width; ++b) x[a][b] = row[b];
  }
}

// Scores of the 64 entries on their own, each with its best sign: e - 2|c| (signed books)
// or e - 2c. False if any is not a number.
TVQENC_INLINE bool ScoresLoop(const BookStats& s, bool isSigned, double* __restrict score) {
  if (isSigned) {
    for (int32_t i = 0; i < kMaxEntries; ++i) score[i] = s.e[i] - 2.0 * std::fabs(double(s.c[i]));
  } else {
    for (int32_t i = 0; i < kMaxEntries; ++i) score[i] = s.e[i] - 2.0 * double(s.c[i]);
  }
  int32_t numbers = 0;
  for (int32_t i = 0; i < kMaxEntries; ++i) numbers += score[i] == score[i];
  return numbers == kMaxEntries;
}

// place[k] for k < n: how many of value[0..padded) come before value[k], lower or equal and
// earlier (the values past n are +infinity). P > 0: padded known to be P. Counting only the
// lower values first: they are the places when no two values are equal, which their sum
// tells (0 + 1 + ... + n - 1 exactly then, less otherwise). False if values tie and there
// are more than kTiedCandidates.
template <int32_t P>
TVQENC_INLINE bool PlacesLoopOf(const double* value, int32_t n, int32_t size,
                                int64_t* __restrict place) {
  const int32_t padded = P > 0 ? P : size;
  int64_t sum = 0;
  for (int32_t k = 0; k < n; ++k) {
    const double v = value[k];
    int64_t before = 0;
    for (int32_t m = 0; m < padded; ++m) before += value[m] < v;
    place[k] = before;
    sum += before;
  }
  if (sum == int64_t(n) * (n - 1) / 2) return true;
  if (n > kTiedCandidates) return false;
  for (int32_t k = 0; k < n; ++k) {
    const double v = value[k];
    int64_t before = 0;
    for (int32_t m = 0; m < padded; ++m) {
      before += (value[m] < v) | ((value[m] == v) & (m < k));
    }
    place[k] = before;
  }
  return true;
}

TVQENC_INLINE bool PlacesLoop(const double* value, int32_t n, int32_t padded,
                              int64_t* __restrict place) {
  switch (padded) {
    case 16: return PlacesLoopOf<16>(value, n, padded, place);
    case 24: return PlacesLoopOf<24>(value, n, padded, place);
    case 32: return PlacesLoopOf<32>(value, n, padded, place);
    case 48: return PlacesLoopOf<48>(value, n, padded, place);
    case 56: return PlacesLoopOf<56>(value, n, padded, place);
    case 64: return PlacesLoopOf<64>(value, n, padded, place);
    default: return PlacesLoopOf<0>(value, n, padded, place);
  }
}

// Errors of one first-book entry (c0, e0) with the listed second-book entries b < n1, for
// each sign of the first (err[sign0][b]) with the second's sign chosen in closed form: the
// terms with s1 are -2 s1 (c1 - s0 x), least with s1 the sign of c1 - s0 x (plus where it is
// zero, the search's order), which leaves -2 |c1 - s0 x|. Returns how many are below `best`.
template <int32_t N>
TVQENC_INLINE int32_t RowLoopOf(double total, float c0, float e0, const double* c1,
                                const double* e1, const float* x, int32_t count1, int32_t signs0,
                                bool signed1, double best, double (*__restrict err)[kMaxEntries]) {
  const int32_t n1 = N > 0 ? N : count1;
  double cross[kMaxEntries];
  for (int32_t b = 0; b < n1; ++b) cross[b] = x[b];
  int64_t below = 0;
  for (int32_t g0 = 0; g0 < signs0; ++g0) {
    const double sign0 = g0 ? -1.0 : 1.0;
    const double own = total - 2.0 * sign0 * c0 + e0;
    double* out = err[g0];
    if (signed1) {
      for (int32_t b = 0; b < n1; ++b) out[b] = own + e1[b] - 2.0 * std::fabs(c1[b] - sign0 * cross[b]);
    } else {
      for (int32_t b = 0; b < n1; ++b) out[b] = own + e1[b] - 2.0 * (c1[b] - sign0 * cross[b]);
    }
    for (int32_t b = 0; b < n1; ++b) below += out[b] < best;
  }
  return static_cast<int32_t>(below);
}

TVQENC_INLINE int32_t RowLoop(double total, float c0, float e0, const double* c1, const double* e1,
                              const float* x, int32_t n1, int32_t signs0, bool signed1, double best,
                              double (*__restrict err)[kMaxEntries]) {
  switch (n1) {
    case 8: return RowLoopOf<8>(total, c0, e0, c1, e1, x, n1, signs0, signed1, best, err);
    case 16: return RowLoopOf<16>(total, c0, e0, c1, e1, x, n1, signs0, signed1, best, err);
    case 24: return RowLoopOf<24>(total, c0, e0, c1, e1, x, n1, signs0, signed1, best, err);
    case 32: return RowLoopOf<32>(total, c0, e0, c1, e1, x, n1, signs0, signed1, best, err);
    default: return RowLoopOf<0>(total, c0, e0, c1, e1, x, n1, signs0, signed1, best, err);
  }
}

struct Kernels {
  void (*stats)(const float*, const float*, const float*, int32_t, float*, float*);
  void (*cross)(const float*, const float*, int32_t, int32_t, int32_t, float (*)[kMaxEntries]);
  bool (*scores)(const BookStats&, bool, double*);
  int32_t (*below)(const double*, int32_t, double, int32_t*);
  bool (*places)(const double*, int32_t, int32_t, int64_t*);
  int32_t (*row)(double, float, float, const double*, const double*, const float*, int32_t,
                 int32_t, bool, double, double (*)[kMaxEntries]);
};

void PlainStats(const float* columns, const float* wt, const float* w, int32_t length,
                float* c, float* e) {
  StatsLoop(columns, wt, w, length, c, e);
}
void PlainCross(const float* u, const float* g, int32_t length, int32_t n0, int32_t width,
                float (*x)[kMaxEntries]) {
  CrossLoop(u, g, length, n0, width, x);
}
bool PlainScores(const BookStats& s, bool isSigned, double* score) {
  return ScoresLoop(s, isSigned, score);
}
// The entries (in order) whose scores are at most the bound; returns their number.
int32_t PlainBelow(const double* score, int32_t entries, double bound, int32_t* order) {
  int32_t n = 0;
  for (int32_t i = 0; i < entries; ++i) {
    order[n] = i;
    n += score[i] <= bound;
  }
  return n;
}
bool PlainPlaces(const double* value, int32_t n, int32_t padded, int64_t* place) {
  return PlacesLoop(value, n, padded, place);
}
int32_t PlainRow(double total, float c0, float e0, const double* c1, const double* e1,
                 const float* x, int32_t n1, int32_t signs0, bool signed1, double best,
                 double (*err)[kMaxEntries]) {
  return RowLoop(total, c0, e0, c1, e1, x, n1, signs0, signed1, best, err);
}

#if TVQENC_AVX2_PATH
__attribute__((target("avx2"))) void Avx2Stats(const float* columns, const float* wt,
                                               const float* w, int32_t length, float* c,
                                               float* e) {
  StatsLoop(columns, wt, w, length, c, e);
}
__attribute__((target("avx2"))) void Avx2Cross(const float* u, const float* g, int32_t length,
                                               int32_t n0, int32_t width,
                                               float (*x)[kMaxEntries]) {
  CrossLoop(u, g, length, n0, width, x);
}
__attribute__((target("avx2"))) bool Avx2Scores(const BookStats& s, bool isSigned, double* score) {
  return ScoresLoop(s, isSigned, score);
}
// Four comparisons at a time into a bit mask, then its set bits in order.
__attribute__((target("avx2"))) int32_t Avx2Below(const double* score, int32_t entries,
                                                  double bound, int32_t* order) {
  const __m256d limit = _mm256_set1_pd(bound);
  uint64_t mask = 0;
  for (int32_t i = 0; i < kMaxEntries; i += 4) {
    const __m256d below = _mm256_cmp_pd(_mm256_loadu_pd(score + i), limit, _CMP_LE_OQ);
    mask |= uint64_t(_mm256_movemask_pd(below)) << i;
  }
  if (entries < kMaxEntries) mask &= (uint64_t(1) << entries) - 1;
  int32_t n = 0;
  for (; mask; mask &= mask - 1) order[n++] = __builtin_ctzll(mask);
  return n;
}
__attribute__((target("avx2"))) bool Avx2Places(const double* value, int32_t n, int32_t padded,
                                                int64_t* place) {
  return PlacesLoop(value, n, padded, place);
}
__attribute__((target("avx2"))) int32_t Avx2Row(double total, float c0, float e0, const double* c1,
                                                const double* e1, const float* x, int32_t n1,
                                                int32_t signs0, bool signed1, double best,
                                                double (*err)[kMaxEntries]) {
  return RowLoop(total, c0, e0, c1, e1, x, n1, signs0, signed1, best, err);
}

// Asked once, when the library loads. (Not a function-local static: its guard's lock is a
// handle the runtime never closes, and a host that loads and frees the library for every
// export would collect them.)
const bool kHasAvx2 = twinvq::ProcessorHasAvx2();
bool HasAvx2() { return kHasAvx2; }
#endif

const Kernels& KernelsOf(VqPath path) {
  static const Kernels plain{PlainStats,  PlainCross,  PlainScores,
                             PlainBelow,  PlainPlaces, PlainRow};
#if TVQENC_AVX2_PATH
  static const Kernels avx2{Avx2Stats, Avx2Cross,  Avx2Scores,
                            Avx2Below, Avx2Places, Avx2Row};
  if (path == VqPath::kAvx2 && HasAvx2()) return avx2;
#endif
  (void)path;
  return plain;
}

// Insertion into a short sorted list: the `count` lowest scores of the listed entries, in
// order, earlier entries first among equal scores.
void KeepLowest(const double* score, const int32_t* order, int32_t n, int32_t count,
                int32_t* chosen) {
  double best[kMaxEntries];
  int32_t filled = 0;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t i = order[k];
    const double value = score[i];
    if (filled == count && value >= best[count - 1]) continue;
    int32_t at = filled < count ? filled++ : count - 1;
    while (at > 0 && best[at - 1] > value) {
      best[at] = best[at - 1];
      chosen[at] = chosen[at - 1];
      --at;
    }
    best[at] = value;
    chosen[at] = i;
  }
}

// The `count` entries with the lowest scores, lowest first, earlier entries first among
// equal scores.
int32_t Preselect(const Kernels& kernels, const Codebook& cb, const BookStats& s, int32_t count,
                  int32_t* chosen) {
  const int32_t entries = cb.Entries();
  if (count <= 0 || count >= entries) {
    for (int32_t i = 0; i < entries; ++i) chosen[i] = i;
    return entries;
  }
  double score[kMaxEntries];
  const bool finite = kernels.scores(s, cb.Signed(), score);
  int32_t order[kMaxEntries];
  if (!finite) {  // not-a-number scores: the plain insertion over every entry decides
    for (int32_t i = 0; i < entries; ++i) order[i] = i;
    KeepLowest(score, order, entries, count, chosen);
    return count;
  }
  // A bound that at least `count` scores reach: the highest of the minima of `count`
  // disjoint groups. Only entries at or below it can be among the lowest `count`.
  const int32_t group = entries / count;
  double bound = -HUGE_VAL;
  for (int32_t g = 0; g < count; ++g) {
    double low = score[g * group];
    for (int32_t k = 1; k < group; ++k) low = std::min(low, score[g * group + k]);
    bound = std::max(bound, low);
  }
  const int32_t candidates = kernels.below(score, entries, bound, order);
  // Each candidate's place is the number of candidates before it in the order, counted
  // without branches; the places are 0 .. candidates - 1, each once.
  const int32_t padded = candidates <= 16 ? 16 : (candidates + 7) / 8 * 8;
  double value[kMaxEntries];
  int64_t place[kMaxEntries];
  for (int32_t k = 0; k < candidates; ++k) value[k] = score[order[k]];
  for (int32_t k = candidates; k < padded; ++k) value[k] = HUGE_VAL;
  if (!kernels.places(value, candidates, padded, place)) {
    KeepLowest(score, order, candidates, count, chosen);
    return count;
  }
  int32_t placed[kMaxEntries];
  for (int32_t k = 0; k < candidates; ++k) placed[place[k]] = order[k];
  std::copy(placed, placed + count, chosen);
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

bool VqPathAvailable(VqPath path) {
#if TVQENC_AVX2_PATH
  if (path == VqPath::kAvx2) return HasAvx2();
#endif
  return path == VqPath::kPlain;
}

VqChoice SearchVq(const Codebook& cb0, const Codebook& cb1, const float* target,
                  const float* weight, int32_t length, int32_t preselect) {
  return SearchVqOn(VqPath::kAvx2, cb0, cb1, target, weight, length, preselect);
}

VqChoice SearchVqOn(VqPath path, const Codebook& cb0, const Codebook& cb1, const float* target,
                    const float* weight, int32_t length, int32_t preselect) {
  const Kernels& kernels = KernelsOf(path);
  BookStats s0, s1;
  float wt[kMaxVectorLength];
  double total = 0.0;
  for (int32_t j = 0; j < length; ++j) {
    wt[j] = weight[j] * target[j];
    total += double(wt[j]) * target[j];
  }
  kernels.stats(cb0.columns, wt, weight, length, s0.c, s0.e);
  kernels.stats(cb1.columns, wt, weight, length, s1.c, s1.e);

  int32_t list0[kMaxEntries], list1[kMaxEntries];
  const int32_t n0 = Preselect(kernels, cb0, s0, preselect, list0);
  const int32_t n1 = Preselect(kernels, cb1, s1, preselect, list1);
  const int32_t signs0 = cb0.Signed() ? 2 : 1;

  // Cross terms of every pair: the chosen entries' values gathered value after value, the
  // first book's weighted, the second's padded with zeros to whole lanes.
  const int32_t width = (n1 + kLanes - 1) / kLanes * kLanes;
  float u[kMaxVectorLength * kMaxEntries], g[kMaxVectorLength * kMaxEntries];
  for (int32_t j = 0; j < length; ++j) {
    const float* column0 = cb0.columns + j * kBookEntries;
    const float* column1 = cb1.columns + j * kBookEntries;
    for (int32_t a = 0; a < n0; ++a) u[j * kMaxEntries + a] = weight[j] * column0[list0[a]];
    for (int32_t b = 0; b < n1; ++b) g[j * kMaxEntries + b] = column1[list1[b]];
    for (int32_t b = n1; b < width; ++b) g[j * kMaxEntries + b] = 0.0f;
  }
  float x[kMaxEntries][kMaxEntries];
  kernels.cross(u, g, length, n0, width, x);

  // Row after row: the errors of every pair with each sign of the first entry (the second's
  // sign follows), then, only in rows where some error is below the best so far, the scan
  // in the search's order (entry of book 0, entry of book 1, sign 0) keeping each strictly
  // lower error.
  double c1[kMaxEntries], e1[kMaxEntries];
  for (int32_t b = 0; b < n1; ++b) {
    c1[b] = s1.c[list1[b]];
    e1[b] = s1.e[list1[b]];
  }
  const bool signed1 = cb1.Signed();
  VqChoice best{0, 0, HUGE_VAL};
  double err[2][kMaxEntries];
  for (int32_t a = 0; a < n0; ++a) {
    const int32_t i0 = list0[a];
    const int32_t lower = kernels.row(total, s0.c[i0], s0.e[i0], c1, e1, x[a], n1, signs0,
                                      signed1, best.error, err);
    if (lower == 0) continue;
    for (int32_t b = 0; b < n1; ++b) {
      for (int32_t g0 = 0; g0 < signs0; ++g0) {
        const double error = err[g0][b];
        if (error < best.error) {
          const double sign0 = g0 ? -1.0 : 1.0;
          const bool minus1 = signed1 && c1[b] - sign0 * double(x[a][b]) < 0.0;
          best = VqChoice{i0 | (g0 ? 64 : 0), list1[b] | (minus1 ? 64 : 0), error};
        }
      }
    }
  }
  if (!(best.error < HUGE_VAL)) best = VqChoice{0, 0, total};  // weights or target not finite
  return best;
}

}  // namespace tvqenc
