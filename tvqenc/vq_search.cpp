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
#include <memory>

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

// c[i] = sum_j wt_j column_j[i], e[i] = sum_j w_j column_j[i]^2 for all 64 entries; with
// rows, term j reads column rows[j].
TVQENC_INLINE void StatsLoop(const float* columns, const int32_t* rows, const float* wt,
                             const float* w, int32_t length, float* __restrict c,
                             float* __restrict e) {
  for (int32_t i = 0; i < kBookEntries; ++i) c[i] = e[i] = 0.0f;
  for (int32_t j = 0; j < length; ++j) {
    const float* column = columns + (rows ? rows[j] : j) * kBookEntries;
    const float a = wt[j], b = w[j];
    for (int32_t i = 0; i < kBookEntries; ++i) {
      c[i] += a * column[i];
      e[i] += b * column[i] * column[i];
    }
  }
}

// x[a][b] = sum_j u_j[a] g_j[b] for a < n0 and b < width (a multiple of kLanes), where
// u_j[a] = w_j v0[a]_j and g_j[b] = v1[b]_j are stored value after value (row j at j * 64).
// Each sum runs over j in order; the AVX2 path keeps tiles of them in registers.
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

// Row a alone; its weighted values u_j[a] at ua[j * step].
TVQENC_INLINE void CrossRow(const float* ua, int32_t step, const float* g, int32_t length,
                            int32_t width, float* __restrict x) {
  float row[kMaxEntries];
  for (int32_t b = 0; b < width; ++b) row[b] = 0.0f;
  for (int32_t j = 0; j < length; ++j) {
    const float value = ua[j * step];
    const float* gj = g + j * kMaxEntries;
    for (int32_t b = 0; b < width; ++b) row[b] += value * gj[b];
  }
  for (int32_t b = 0; b < width; ++b) x[b] = row[b];
}

TVQENC_INLINE void CrossLoop(const float* u, const float* g, int32_t length, int32_t n0,
                             int32_t width, float (*__restrict x)[kMaxEntries]) {
  int32_t a = 0;
  for (; a + 4 <= n0; a += 4) {
    switch (width) {  // the widths the encoder's preselections give, unrolled
      case 16: CrossRows4<16>(u, g, length, a, width, x); break;
      case 32: CrossRows4<32>(u, g, length, a, width, x); break;
      default: CrossRows4<0>(u, g, length, a, width, x); break;
    }
  }
  for (; a < n0; ++a) CrossRow(u + a, kMaxEntries, g, length, width, x[a]);
}

// Columns in a register tile of the AVX2 path: the 32-bit build has eight vector registers.
#if defined(__i386__)
constexpr int32_t kTileColumns = 8;
#else
constexpr int32_t kTileColumns = 16;
#endif

// Scores of the 64 entries on their own, each with its best sign: e - 2|c| (signed books)
// or e - 2c. False if any is not a number.
TVQENC_INLINE bool ScoresLoop(const VqStats& s, bool isSigned, float* __restrict score) {
  if (isSigned) {
    for (int32_t i = 0; i < kMaxEntries; ++i) score[i] = s.e[i] - 2.0f * std::fabs(s.c[i]);
  } else {
    for (int32_t i = 0; i < kMaxEntries; ++i) score[i] = s.e[i] - 2.0f * s.c[i];
  }
  int32_t numbers = 0;
  for (int32_t i = 0; i < kMaxEntries; ++i) numbers += score[i] == score[i];
  return numbers == kMaxEntries;
}

// place[k] for k < n: how many of value[0..padded) come before value[k], lower or equal and
// earlier (the values past n are +infinity). P > 0: padded known to be P. Counting only the
// lower values first: they are the places when no two values are equal, which their sum
// tells (0 + 1 + ... + n - 1 exactly then, less otherwise). False if values tie and there
// are more than kTiedCandidates. Floats and 32-bit counts: eight comparisons a step.
template <int32_t P>
TVQENC_INLINE bool PlacesLoopOf(const float* value, int32_t n, int32_t size,
                                int32_t* __restrict place) {
  const int32_t padded = P > 0 ? P : size;
  int32_t count[kMaxEntries];
  for (int32_t k = 0; k < padded; ++k) count[k] = 0;
  for (int32_t m = 0; m < padded; ++m) {  // each value against all at once
    const float v = value[m];
    for (int32_t k = 0; k < padded; ++k) count[k] += v < value[k];
  }
  int32_t sum = 0;
  for (int32_t k = 0; k < n; ++k) sum += count[k];
  if (sum == n * (n - 1) / 2) {
    for (int32_t k = 0; k < n; ++k) place[k] = count[k];
    return true;
  }
  if (n > kTiedCandidates) return false;
  for (int32_t k = 0; k < padded; ++k) count[k] = 0;
  for (int32_t m = 0; m < padded; ++m) {
    const float v = value[m];
    for (int32_t k = 0; k < padded; ++k) count[k] += (v < value[k]) | ((v == value[k]) & (m < k));
  }
  for (int32_t k = 0; k < n; ++k) place[k] = count[k];
  return true;
}

TVQENC_INLINE bool PlacesLoop(const float* value, int32_t n, int32_t padded,
                              int32_t* __restrict place) {
  switch (padded) {
    case 16: return PlacesLoopOf<16>(value, n, padded, place);
    case 24: return PlacesLoopOf<24>(value, n, padded, place);
    case 32: return PlacesLoopOf<32>(value, n, padded, place);
    case 40: return PlacesLoopOf<40>(value, n, padded, place);
    case 48: return PlacesLoopOf<48>(value, n, padded, place);
    case 56: return PlacesLoopOf<56>(value, n, padded, place);
    case 64: return PlacesLoopOf<64>(value, n, padded, place);
    default: return PlacesLoopOf<0>(value, n, padded, place);
  }
}

// Errors of one first-book entry (c0, e0) with the listed second-book entries b < n1, less
// the target's own weighted power, for each sign of the first (err[sign0][b]), with the
// second's sign chosen in closed form: the terms with s1 are -2 s1 (c1 - s0 x), least with
// s1 the sign of c1 - s0 x (plus where it is zero, the search's order), which leaves
// -2 |c1 - s0 x|. Floats, eight pairs a step. Returns the least of them (not-a-number
// errors never are), taken lane by lane so that every path finds the same.
template <int32_t N>
TVQENC_INLINE float RowLoopOf(float c0, float e0, const float* c1, const float* e1, const float* x,
                              int32_t count1, int32_t signs0, bool signed1,
                              float (*__restrict err)[kMaxEntries]) {
  const int32_t n1 = N > 0 ? N : count1;
  float least[kLanes];
  for (int32_t l = 0; l < kLanes; ++l) least[l] = HUGE_VALF;
  for (int32_t g0 = 0; g0 < signs0; ++g0) {
    const float sign0 = g0 ? -1.0f : 1.0f;
    const float own = e0 - 2.0f * (sign0 * c0);
    float* out = err[g0];
    if (signed1) {
      for (int32_t b = 0; b < n1; ++b) out[b] = (own + e1[b]) - 2.0f * std::fabs(c1[b] - sign0 * x[b]);
    } else {
      for (int32_t b = 0; b < n1; ++b) out[b] = (own + e1[b]) - 2.0f * (c1[b] - sign0 * x[b]);
    }
    for (int32_t b = n1; b < (n1 + kLanes - 1) / kLanes * kLanes; ++b) out[b] = HUGE_VALF;
    for (int32_t b = 0; b < n1; b += kLanes) {
      for (int32_t l = 0; l < kLanes; ++l) least[l] = out[b + l] < least[l] ? out[b + l] : least[l];
    }
  }
  float row = least[0];
  for (int32_t l = 1; l < kLanes; ++l) row = least[l] < row ? least[l] : row;
  return row;
}

TVQENC_INLINE float RowLoop(float c0, float e0, const float* c1, const float* e1, const float* x,
                            int32_t n1, int32_t signs0, bool signed1,
                            float (*__restrict err)[kMaxEntries]) {
  switch (n1) {
    case 8: return RowLoopOf<8>(c0, e0, c1, e1, x, n1, signs0, signed1, err);
    case 16: return RowLoopOf<16>(c0, e0, c1, e1, x, n1, signs0, signed1, err);
    case 24: return RowLoopOf<24>(c0, e0, c1, e1, x, n1, signs0, signed1, err);
    case 32: return RowLoopOf<32>(c0, e0, c1, e1, x, n1, signs0, signed1, err);
    default: return RowLoopOf<0>(c0, e0, c1, e1, x, n1, signs0, signed1, err);
  }
}

// The pair the search keeps: the first in its order (entry of book 0, entry of book 1, sign
// of the first) with the least error; a < 0 where none is a number.
struct PairChoice {
  int32_t a, b, sign0;
  float rest;  // its error less the target's own weighted power
};

// Row a's least error becomes the best: its first pair (b, then sign) that reaches it.
TVQENC_INLINE void Keep(const float (*err)[kMaxEntries], int32_t a, int32_t n1, int32_t signs0,
                        float least, PairChoice* best) {
  best->rest = least;
  best->a = a;
  for (int32_t b = 0; b < n1; ++b) {
    for (int32_t g0 = 0; g0 < signs0; ++g0) {
      if (err[g0][b] == least) {
        best->b = b, best->sign0 = g0;
        return;
      }
    }
  }
}

// Row after row (c0, e0: the listed first-book entries' statistics in list order): a row
// whose least is below the best so far gives its first pair that reaches it.
template <typename Row>
TVQENC_INLINE PairChoice PairsLoop(Row row, const float* c0, const float* e0, int32_t n0,
                                   const float* c1, const float* e1,
                                   const float (*x)[kMaxEntries], int32_t n1, int32_t signs0,
                                   bool signed1) {
  PairChoice best{-1, 0, 0, HUGE_VALF};
  float err[2][kMaxEntries];
  for (int32_t a = 0; a < n0; ++a) {
    const float least = row(c0[a], e0[a], c1, e1, x[a], n1, signs0, signed1, err);
    if (!(least < best.rest)) continue;
    Keep(err, a, n1, signs0, least, &best);
  }
  return best;
}

// The preselected entries' values, value after value: u_j[a] = w_j v0[list0[a]]_j for
// a < n0 and g_j[b] = v1[list1[b]]_j for b < n1, zeros up to width.
TVQENC_INLINE void GatherLoop(const Codebook& cb0, const Codebook& cb1, const float* weight,
                              int32_t length, const int32_t* list0, int32_t n0,
                              const int32_t* list1, int32_t n1, int32_t width, float* __restrict u,
                              float* __restrict g) {
  for (int32_t j = 0; j < length; ++j) {
    const float* column0 = cb0.columns + j * kBookEntries;
    const float* column1 = cb1.columns + j * kBookEntries;
    for (int32_t a = 0; a < n0; ++a) u[j * kMaxEntries + a] = weight[j] * column0[list0[a]];
    for (int32_t b = 0; b < n1; ++b) g[j * kMaxEntries + b] = column1[list1[b]];
    for (int32_t b = n1; b < width; ++b) g[j * kMaxEntries + b] = 0.0f;
  }
}

// out = the sum over channels of unit[ch] scaled by that channel's gain g (c by g, e by
// g^2), the first channel's terms added to zero (which keeps the sign a zero term has).
TVQENC_INLINE void ScaleLoop(const VqStats* unit, const float* gains, int32_t channels,
                             VqStats* __restrict out) {
  const float g = gains[0], gg = g * g;
  for (int32_t e = 0; e < kBookEntries; ++e) {
    out->c[e] = 0.0f + g * unit[0].c[e];
    out->e[e] = 0.0f + gg * unit[0].e[e];
  }
  for (int32_t ch = 1; ch < channels; ++ch) {
    const float h = gains[ch], hh = h * h;
    for (int32_t e = 0; e < kBookEntries; ++e) {
      out->c[e] += h * unit[ch].c[e];
      out->e[e] += hh * unit[ch].e[e];
    }
  }
}

struct Kernels {
  void (*gather)(const Codebook&, const Codebook&, const float*, int32_t, const int32_t*, int32_t,
                 const int32_t*, int32_t, int32_t, float*, float*);
  void (*stats)(const float*, const int32_t*, const float*, const float*, int32_t, float*, float*);
  void (*cross)(const float*, const float*, int32_t, int32_t, int32_t, float (*)[kMaxEntries]);
  bool (*scores)(const VqStats&, bool, float*);
  int32_t (*below)(const float*, int32_t, int32_t, int32_t*, float*);
  bool (*places)(const float*, int32_t, int32_t, int32_t*);
  PairChoice (*pairs)(const float*, const float*, int32_t, const float*, const float*,
                      const float (*)[kMaxEntries], int32_t, int32_t, bool);
  void (*scale)(const VqStats*, const float*, int32_t, VqStats*);
};

void PlainScale(const VqStats* unit, const float* gains, int32_t channels, VqStats* out) {
  ScaleLoop(unit, gains, channels, out);
}

void PlainStats(const float* columns, const int32_t* rows, const float* wt, const float* w,
                int32_t length, float* c, float* e) {
  StatsLoop(columns, rows, wt, w, length, c, e);
}
void PlainGather(const Codebook& cb0, const Codebook& cb1, const float* weight, int32_t length,
                 const int32_t* list0, int32_t n0, const int32_t* list1, int32_t n1, int32_t width,
                 float* u, float* g) {
  GatherLoop(cb0, cb1, weight, length, list0, n0, list1, n1, width, u, g);
}
void PlainCross(const float* u, const float* g, int32_t length, int32_t n0, int32_t width,
                float (*x)[kMaxEntries]) {
  CrossLoop(u, g, length, n0, width, x);
}
bool PlainScores(const VqStats& s, bool isSigned, float* score) {
  return ScoresLoop(s, isSigned, score);
}
// A bound that at least `count` (< entries) scores reach: the highest of the minima of
// `count` disjoint groups, entry g with g + count, g + 2 count, ... (strided, so that the
// minima are taken a lane per group). Only entries at or below it can be among the lowest
// `count`.
TVQENC_INLINE float BoundLoop(const float* score, int32_t entries, int32_t count) {
  float low[kMaxEntries];
  for (int32_t g = 0; g < count; ++g) low[g] = score[g];
  for (int32_t base = count; base < entries; base += count) {
    const int32_t width = std::min(count, entries - base);
    for (int32_t g = 0; g < width; ++g) low[g] = score[base + g] < low[g] ? score[base + g] : low[g];
  }
  float bound = low[0];
  for (int32_t g = 1; g < count; ++g) bound = low[g] > bound ? low[g] : bound;
  return bound;
}

// A tighter bound for a book of 64 entries and a count of at most 8 K: each of eight lanes
// (entries l, l + 8, ..., l + 56) keeps its K lowest scores in order, and the highest of the
// lanes' K-th lowest is reached by 8 K >= count scores. Candidates for the search's counts
// (16, 32) come to about 27 and 44 of 64 against 34 and 55 with the minima of groups.
template <int32_t K>
TVQENC_INLINE float LaneBoundLoop(const float* score) {
  float low[K][kLanes];
  for (int32_t r = 0; r < K; ++r) {
    for (int32_t l = 0; l < kLanes; ++l) low[r][l] = HUGE_VALF;
  }
  for (int32_t base = 0; base < kMaxEntries; base += kLanes) {
    float carry[kLanes];
    for (int32_t l = 0; l < kLanes; ++l) carry[l] = score[base + l];
    for (int32_t r = 0; r < K; ++r) {  // insertion: the lower stays, the higher moves on
      for (int32_t l = 0; l < kLanes; ++l) {
        const float kept = low[r][l], in = carry[l];
        low[r][l] = in < kept ? in : kept;
        carry[l] = in < kept ? kept : in;
      }
    }
  }
  float bound = low[K - 1][0];
  for (int32_t l = 1; l < kLanes; ++l) bound = low[K - 1][l] > bound ? low[K - 1][l] : bound;
  return bound;
}

// How many lowest scores per lane the bound for `count` keeps (0: the groups' minima).
constexpr int32_t LaneRanks(int32_t entries, int32_t count) {
  return entries != kMaxEntries ? 0 : count <= 2 * kLanes ? 2 : count <= 4 * kLanes ? 4 : 0;
}

TVQENC_INLINE float Bound(const float* score, int32_t entries, int32_t count) {
  switch (LaneRanks(entries, count)) {
    case 2: return LaneBoundLoop<2>(score);
    case 4: return LaneBoundLoop<4>(score);
    default: return BoundLoop(score, entries, count);
  }
}

// The entries (in order) whose scores are at most the bound for `count`, and their scores;
// returns their number.
int32_t PlainBelow(const float* score, int32_t entries, int32_t count, int32_t* order,
                   float* value) {
  const float bound = Bound(score, entries, count);
  int32_t n = 0;
  for (int32_t i = 0; i < entries; ++i) {
    order[n] = i;
    value[n] = score[i];
    n += score[i] <= bound;
  }
  return n;
}
bool PlainPlaces(const float* value, int32_t n, int32_t padded, int32_t* place) {
  return PlacesLoop(value, n, padded, place);
}
PairChoice PlainPairs(const float* c0, const float* e0, int32_t n0, const float* c1, const float* e1,
                      const float (*x)[kMaxEntries], int32_t n1, int32_t signs0, bool signed1) {
  return PairsLoop(RowLoop, c0, e0, n0, c1, e1, x, n1, signs0, signed1);
}

#if TVQENC_AVX2_PATH
// Tiles of entries whose sums stay in registers, each sum over j in order with the plain
// loop's products.
__attribute__((target("avx2"))) void Avx2Stats(const float* columns, const int32_t* rows,
                                               const float* wt, const float* w, int32_t length,
                                               float* c, float* e) {
  constexpr int32_t T = kTileColumns / kLanes;
  for (int32_t i = 0; i < kBookEntries; i += kTileColumns) {
    __m256 cs[T], es[T];
    for (int32_t t = 0; t < T; ++t) cs[t] = es[t] = _mm256_setzero_ps();
    for (int32_t j = 0; j < length; ++j) {
      const float* column = columns + (rows ? rows[j] : j) * kBookEntries + i;
      const __m256 a = _mm256_broadcast_ss(wt + j), b = _mm256_broadcast_ss(w + j);
      for (int32_t t = 0; t < T; ++t) {
        const __m256 v = _mm256_loadu_ps(column + t * kLanes);
        cs[t] = _mm256_add_ps(cs[t], _mm256_mul_ps(a, v));
        es[t] = _mm256_add_ps(es[t], _mm256_mul_ps(_mm256_mul_ps(b, v), v));
      }
    }
    for (int32_t t = 0; t < T; ++t) {
      _mm256_storeu_ps(c + i + t * kLanes, cs[t]);
      _mm256_storeu_ps(e + i + t * kLanes, es[t]);
    }
  }
}
// Eight listed entries by four values at a time from the entry-major books (rows padded to
// whole fours), turned value-major in registers: a 4 x 8 transpose per step instead of the
// processor's gather, which is slow on many processors. Lists are padded with valid entries
// past their counts; the zeros past n1 are set after.
__attribute__((target("avx2"))) inline void Avx2Transpose8x4(const float* const* rows, int32_t j0,
                                                            __m256 out[4]) {
  __m256 row[4];
  for (int32_t k = 0; k < 4; ++k) {
    const __m128 low = _mm_loadu_ps(rows[k] + j0);
    const __m128 high = _mm_loadu_ps(rows[k + 4] + j0);
    row[k] = _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
  }
  const __m256 t0 = _mm256_unpacklo_ps(row[0], row[1]), t1 = _mm256_unpackhi_ps(row[0], row[1]);
  const __m256 t2 = _mm256_unpacklo_ps(row[2], row[3]), t3 = _mm256_unpackhi_ps(row[2], row[3]);
  out[0] = _mm256_shuffle_ps(t0, t2, 0x44);
  out[1] = _mm256_shuffle_ps(t0, t2, 0xee);
  out[2] = _mm256_shuffle_ps(t1, t3, 0x44);
  out[3] = _mm256_shuffle_ps(t1, t3, 0xee);
}

// The AVX2 path keeps the first book's weighted entries entry-major (u[a * 64 + j]): the
// cross tiles broadcast them one value at a time, so only the second book's are turned.
__attribute__((target("avx2"))) void Avx2Gather(const Codebook& cb0, const Codebook& cb1,
                                                const float* weight, int32_t length,
                                                const int32_t* list0, int32_t n0,
                                                const int32_t* list1, int32_t n1, int32_t width,
                                                float* u, float* g) {
  // Rows are read in whole fours (the books' rows are padded to them); the weights past the
  // vector are zeros, whose products the cross terms never read.
  const int32_t padded = (length + 3) / 4 * 4;
  float w[kMaxVectorLength];
  for (int32_t j = 0; j < length; ++j) w[j] = weight[j];
  for (int32_t j = length; j < padded; ++j) w[j] = 0.0f;
  for (int32_t a = 0; a < n0; ++a) {
    const float* row = cb0.values + list0[a] * cb0.stride;
    float* out = u + a * kMaxVectorLength;
    int32_t j = 0;
    for (; j + 8 <= padded; j += 8) {
      _mm256_storeu_ps(out + j, _mm256_mul_ps(_mm256_loadu_ps(w + j), _mm256_loadu_ps(row + j)));
    }
    if (j < padded) _mm_storeu_ps(out + j, _mm_mul_ps(_mm_loadu_ps(w + j), _mm_loadu_ps(row + j)));
  }
  const int32_t whole = length / 4 * 4;
  for (int32_t b = 0; b < width; b += kLanes) {
    const float* rows[kLanes];
    for (int32_t k = 0; k < kLanes; ++k) rows[k] = cb1.values + list1[b + k] * cb1.stride;
    __m256 out[4];
    int32_t j0 = 0;
    for (; j0 < whole; j0 += 4) {
      Avx2Transpose8x4(rows, j0, out);
      for (int32_t r = 0; r < 4; ++r) _mm256_storeu_ps(g + (j0 + r) * kMaxEntries + b, out[r]);
    }
    if (j0 < length) {
      Avx2Transpose8x4(rows, j0, out);
      for (int32_t r = 0; r < length - j0; ++r) _mm256_storeu_ps(g + (j0 + r) * kMaxEntries + b, out[r]);
    }
  }
  for (int32_t j = 0; j < length; ++j) {
    for (int32_t b = n1; b < width; ++b) g[j * kMaxEntries + b] = 0.0f;
  }
}

// Tiles of four rows by T lanes of eight columns, the sums in registers; the same products
// and sums, in the same order, as the plain loop.
template <int32_t T>
__attribute__((target("avx2"))) inline void Avx2CrossTile(const float* u, const float* g,
                                                          int32_t length, int32_t a, int32_t b,
                                                          float (*x)[kMaxEntries]) {
  __m256 sum[4][T];
  for (int32_t r = 0; r < 4; ++r) {
    for (int32_t t = 0; t < T; ++t) sum[r][t] = _mm256_setzero_ps();
  }
  const float* ua = u + a * kMaxVectorLength;
  for (int32_t j = 0; j < length; ++j) {
    const float* gj = g + j * kMaxEntries + b;
    __m256 gv[T];
    for (int32_t t = 0; t < T; ++t) gv[t] = _mm256_loadu_ps(gj + t * kLanes);
    for (int32_t r = 0; r < 4; ++r) {
      const __m256 ur = _mm256_broadcast_ss(ua + r * kMaxVectorLength + j);
      for (int32_t t = 0; t < T; ++t) sum[r][t] = _mm256_add_ps(sum[r][t], _mm256_mul_ps(ur, gv[t]));
    }
  }
  for (int32_t r = 0; r < 4; ++r) {
    for (int32_t t = 0; t < T; ++t) _mm256_storeu_ps(x[a + r] + b + t * kLanes, sum[r][t]);
  }
}

__attribute__((target("avx2"))) void Avx2Cross(const float* u, const float* g, int32_t length,
                                               int32_t n0, int32_t width,
                                               float (*x)[kMaxEntries]) {
  int32_t a = 0;
  for (; a + 4 <= n0; a += 4) {
    int32_t b = 0;
    for (; b + kTileColumns <= width; b += kTileColumns) {
      Avx2CrossTile<kTileColumns / kLanes>(u, g, length, a, b, x);
    }
    for (; b < width; b += kLanes) Avx2CrossTile<1>(u, g, length, a, b, x);
  }
  for (; a < n0; ++a) CrossRow(u + a * kMaxVectorLength, 1, g, length, width, x[a]);
}
__attribute__((target("avx2"))) void Avx2Scale(const VqStats* unit, const float* gains,
                                               int32_t channels, VqStats* out) {
  ScaleLoop(unit, gains, channels, out);
}
__attribute__((target("avx2"))) bool Avx2Scores(const VqStats& s, bool isSigned, float* score) {
  return ScoresLoop(s, isSigned, score);
}
// For each 8-bit mask, its set bits' positions in order (the rest zero) and their number:
// the lanes a left-packing permutation takes.
struct PackTable {
  uint8_t lanes[256][kLanes];
  uint8_t count[256];
  constexpr PackTable() : lanes(), count() {
    for (int32_t m = 0; m < 256; ++m) {
      int32_t n = 0;
      for (int32_t l = 0; l < kLanes; ++l) {
        if (m & (1 << l)) lanes[m][n++] = static_cast<uint8_t>(l);
      }
      count[m] = static_cast<uint8_t>(n);
    }
  }
};
constexpr PackTable kPackTable;

// LaneBoundLoop's bound in every lane.
template <int32_t K>
__attribute__((target("avx2"))) inline __m256 Avx2LaneBound(const float* score) {
  __m256 low[K];
  for (int32_t r = 0; r < K; ++r) low[r] = _mm256_set1_ps(HUGE_VALF);
  for (int32_t base = 0; base < kMaxEntries; base += kLanes) {
    __m256 carry = _mm256_loadu_ps(score + base);
    for (int32_t r = 0; r < K; ++r) {
      const __m256 kept = low[r];
      low[r] = _mm256_min_ps(carry, kept);
      carry = _mm256_max_ps(carry, kept);
    }
  }
  __m256 bound = _mm256_max_ps(low[K - 1], _mm256_permute2f128_ps(low[K - 1], low[K - 1], 1));
  bound = _mm256_max_ps(bound, _mm256_shuffle_ps(bound, bound, 0x4e));
  return _mm256_max_ps(bound, _mm256_shuffle_ps(bound, bound, 0xb1));
}

// Eight comparisons at a time; the entries at or below the bound and their scores packed to
// the front of the step's lanes and stored after those before (order and value have room for
// eight past the last entry).
__attribute__((target("avx2"))) int32_t Avx2Below(const float* score, int32_t entries,
                                                  int32_t count, int32_t* order, float* value) {
  if (entries % kLanes) return PlainBelow(score, entries, count, order, value);
  const int32_t ranks = LaneRanks(entries, count);
  const __m256 limit = ranks == 2   ? Avx2LaneBound<2>(score)
                       : ranks == 4 ? Avx2LaneBound<4>(score)
                                    : _mm256_set1_ps(BoundLoop(score, entries, count));
  int32_t n = 0;
  for (int32_t i = 0; i < entries; i += kLanes) {
    const __m256 v = _mm256_loadu_ps(score + i);
    const int32_t mask = _mm256_movemask_ps(_mm256_cmp_ps(v, limit, _CMP_LE_OQ));
    const __m256i lanes = _mm256_cvtepu8_epi32(
        _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPackTable.lanes[mask])));
    _mm256_storeu_ps(value + n, _mm256_permutevar8x32_ps(v, lanes));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(order + n),
                        _mm256_add_epi32(lanes, _mm256_set1_epi32(i)));
    n += kPackTable.count[mask];
  }
  return n;
}
__attribute__((target("avx2"))) bool Avx2Places(const float* value, int32_t n, int32_t padded,
                                                int32_t* place) {
  return PlacesLoop(value, n, padded, place);
}
// The row loop in eight-lane steps: the same float operations per pair as the plain loop,
// and _mm256_min_ps(v, m) is v < m ? v : m lane by lane, as the plain loop takes it. Returns
// the lanes' least values.
__attribute__((target("avx2"))) inline __m256 Avx2Row(float c0, float e0, const float* c1,
                                                      const float* e1, const float* x, int32_t n1,
                                                      int32_t signs0, bool signed1,
                                                      float (*err)[kMaxEntries]) {
  const __m256 two = _mm256_set1_ps(2.0f);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  const int32_t steps = (n1 + kLanes - 1) / kLanes;
  __m256 least = _mm256_set1_ps(HUGE_VALF);
  for (int32_t g0 = 0; g0 < signs0; ++g0) {
    const float sign0 = g0 ? -1.0f : 1.0f;
    const __m256 own = _mm256_set1_ps(e0 - 2.0f * (sign0 * c0));
    const __m256 sign = _mm256_set1_ps(sign0);
    for (int32_t step = 0; step < steps; ++step) {
      const int32_t b = step * kLanes;
      const __m256 rest = _mm256_sub_ps(_mm256_loadu_ps(c1 + b),
                                        _mm256_mul_ps(sign, _mm256_loadu_ps(x + b)));
      const __m256 term = signed1 ? _mm256_and_ps(rest, magnitude) : rest;
      __m256 v = _mm256_sub_ps(_mm256_add_ps(own, _mm256_loadu_ps(e1 + b)), _mm256_mul_ps(two, term));
      if (b + kLanes > n1) {  // lanes past the list: never the least
        const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
        const __m256i past = _mm256_cmpgt_epi32(lane, _mm256_set1_epi32(n1 - b - 1));
        v = _mm256_blendv_ps(v, _mm256_set1_ps(HUGE_VALF), _mm256_castsi256_ps(past));
      }
      _mm256_storeu_ps(err[g0] + b, v);
      least = _mm256_min_ps(v, least);
    }
  }
  return least;
}

// The rows of a list of N second-book entries (a whole number of lanes) for a book of the
// given signs: the second book's statistics stay in registers from row to row, and a row's
// errors are only made into lanes' least; the best row is made again by Avx2Row for its
// errors at the end. The same float operations per pair as Avx2Row.
template <int32_t N, int32_t Signs0, bool Signed1>
__attribute__((target("avx2"))) PairChoice Avx2PairsOf(const float* c0, const float* e0, int32_t n0,
                                                       const float* c1, const float* e1,
                                                       const float (*x)[kMaxEntries]) {
  constexpr int32_t kSteps = N / kLanes;
  const __m256 two = _mm256_set1_ps(2.0f);
  const __m256 magnitude = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
  __m256 c1v[kSteps], e1v[kSteps];
  for (int32_t step = 0; step < kSteps; ++step) {
    c1v[step] = _mm256_loadu_ps(c1 + step * kLanes);
    e1v[step] = _mm256_loadu_ps(e1 + step * kLanes);
  }
  PairChoice best{-1, 0, 0, HUGE_VALF};
  __m256 bar = _mm256_set1_ps(HUGE_VALF);
  float err[2][kMaxEntries];
  for (int32_t a = 0; a < n0; ++a) {
    __m256 least = _mm256_set1_ps(HUGE_VALF);
    for (int32_t g0 = 0; g0 < Signs0; ++g0) {
      const float sign0 = g0 ? -1.0f : 1.0f;
      const __m256 own = _mm256_set1_ps(e0[a] - 2.0f * (sign0 * c0[a]));
      const __m256 sign = _mm256_set1_ps(sign0);
      for (int32_t step = 0; step < kSteps; ++step) {
        const __m256 xv = _mm256_loadu_ps(x[a] + step * kLanes);
        const __m256 rest = _mm256_sub_ps(c1v[step], _mm256_mul_ps(sign, xv));
        const __m256 term = Signed1 ? _mm256_and_ps(rest, magnitude) : rest;
        const __m256 v = _mm256_sub_ps(_mm256_add_ps(own, e1v[step]), _mm256_mul_ps(two, term));
        least = _mm256_min_ps(v, least);
      }
    }
    if (!_mm256_movemask_ps(_mm256_cmp_ps(least, bar, _CMP_LT_OQ))) continue;
    float value[kLanes];
    _mm256_storeu_ps(value, least);
    float row = value[0];
    for (int32_t l = 1; l < kLanes; ++l) row = value[l] < row ? value[l] : row;
    best.a = a;
    best.rest = row;
    bar = _mm256_set1_ps(row);
  }
  // Only the best row's pairs are needed: made once more (the same values), its first pair
  // that reaches its least is the choice.
  if (best.a >= 0) {
    Avx2Row(c0[best.a], e0[best.a], c1, e1, x[best.a], N, Signs0, Signed1, err);
    Keep(err, best.a, N, Signs0, best.rest, &best);
  }
  return best;
}

// PairsLoop with the rows' least kept in lanes: a row is reduced to one value only where
// some lane is below the best so far, which after the first rows is seldom.
__attribute__((target("avx2"))) PairChoice Avx2Pairs(const float* c0, const float* e0, int32_t n0,
                                                     const float* c1, const float* e1,
                                                     const float (*x)[kMaxEntries], int32_t n1,
                                                     int32_t signs0, bool signed1) {
  // The lists the encoder's preselections give.
  const int32_t shape = (n1 == 16 ? 0 : n1 == 32 ? 1 : 2) * 4 + (signs0 == 2) * 2 + signed1;
  switch (shape) {
    case 0: return Avx2PairsOf<16, 1, false>(c0, e0, n0, c1, e1, x);
    case 1: return Avx2PairsOf<16, 1, true>(c0, e0, n0, c1, e1, x);
    case 2: return Avx2PairsOf<16, 2, false>(c0, e0, n0, c1, e1, x);
    case 3: return Avx2PairsOf<16, 2, true>(c0, e0, n0, c1, e1, x);
    case 4: return Avx2PairsOf<32, 1, false>(c0, e0, n0, c1, e1, x);
    case 5: return Avx2PairsOf<32, 1, true>(c0, e0, n0, c1, e1, x);
    case 6: return Avx2PairsOf<32, 2, false>(c0, e0, n0, c1, e1, x);
    case 7: return Avx2PairsOf<32, 2, true>(c0, e0, n0, c1, e1, x);
    default: break;
  }
  PairChoice best{-1, 0, 0, HUGE_VALF};
  float err[2][kMaxEntries];
  for (int32_t a = 0; a < n0; ++a) {
    const __m256 lanes = Avx2Row(c0[a], e0[a], c1, e1, x[a], n1, signs0, signed1, err);
    if (!_mm256_movemask_ps(_mm256_cmp_ps(lanes, _mm256_set1_ps(best.rest), _CMP_LT_OQ))) continue;
    float value[kLanes];
    _mm256_storeu_ps(value, lanes);
    float least = value[0];
    for (int32_t l = 1; l < kLanes; ++l) least = value[l] < least ? value[l] : least;
    Keep(err, a, n1, signs0, least, &best);
  }
  return best;
}

// Asked once, when the library loads. (Not a function-local static: its guard's lock is a
// handle the runtime never closes, and a host that loads and frees the library for every
// export would collect them.)
const bool kHasAvx2 = twinvq::ProcessorHasAvx2();
bool HasAvx2() { return kHasAvx2; }
#endif

const Kernels& KernelsOf(VqPath path) {
  static const Kernels plain{PlainGather, PlainStats,  PlainCross, PlainScores,
                             PlainBelow,  PlainPlaces, PlainPairs, PlainScale};
#if TVQENC_AVX2_PATH
  static const Kernels avx2{Avx2Gather, Avx2Stats,  Avx2Cross, Avx2Scores,
                            Avx2Below,  Avx2Places, Avx2Pairs, Avx2Scale};
  if (path == VqPath::kAvx2 && HasAvx2()) return avx2;
#endif
  (void)path;
  return plain;
}

// Insertion into a short sorted list: the `count` lowest scores of the listed entries, in
// order, earlier entries first among equal scores.
void KeepLowest(const float* score, const int32_t* order, int32_t n, int32_t count,
                int32_t* chosen) {
  float best[kMaxEntries];
  int32_t filled = 0;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t i = order[k];
    const float value = score[i];
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
// equal scores. chosen has room for every entry of the book.
int32_t Preselect(const Kernels& kernels, const Codebook& cb, const VqStats& s, int32_t count,
                  int32_t* chosen) {
  const int32_t entries = cb.Entries();
  if (count <= 0 || count >= entries) {
    for (int32_t i = 0; i < entries; ++i) chosen[i] = i;
    return entries;
  }
  float score[kMaxEntries];
  const bool finite = kernels.scores(s, cb.Signed(), score);
  int32_t order[kMaxEntries + kLanes];
  if (!finite) {  // not-a-number scores: the plain insertion over every entry decides
    for (int32_t i = 0; i < entries; ++i) order[i] = i;
    KeepLowest(score, order, entries, count, chosen);
    return count;
  }
  float value[kMaxEntries + kLanes];
  const int32_t candidates = kernels.below(score, entries, count, order, value);
  // Each candidate's place is the number of candidates before it in the order, counted
  // without branches; the places are 0 .. candidates - 1, each once.
  const int32_t padded = candidates <= 16 ? 16 : (candidates + 7) / 8 * 8;
  int32_t place[kMaxEntries];
  for (int32_t k = candidates; k < padded; ++k) value[k] = HUGE_VALF;
  if (!kernels.places(value, candidates, padded, place)) {
    KeepLowest(score, order, candidates, count, chosen);
    return count;
  }
  // Straight into chosen (room for every entry): the places past count are left over.
  for (int32_t k = 0; k < candidates; ++k) chosen[place[k]] = order[k];
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

void ComputeVqStats(const Codebook& cb, const float* wt, const float* w, int32_t length,
                    VqStats* out, const int32_t* rows) {
  KernelsOf(VqPath::kAvx2).stats(cb.columns, rows, wt, w, length, out->c, out->e);
}

void ScaleVqStats(const VqStats* unit, const float* gains, int32_t channels, VqStats* out) {
  KernelsOf(VqPath::kAvx2).scale(unit, gains, channels, out);
}

VqChoice SearchVq(const Codebook& cb0, const Codebook& cb1, const float* target,
                  const float* weight, int32_t length, int32_t preselect, VqScratch* scratch,
                  const VqStats* given) {
  return SearchVqOn(VqPath::kAvx2, cb0, cb1, target, weight, length, preselect, scratch, given);
}

VqChoice SearchVqOn(VqPath path, const Codebook& cb0, const Codebook& cb1, const float* target,
                    const float* weight, int32_t length, int32_t preselect, VqScratch* scratch,
                    const VqStats* given) {
  if (!scratch) {
    std::unique_ptr<VqScratch> own(new VqScratch);
    return SearchVqOn(path, cb0, cb1, target, weight, length, preselect, own.get(), given);
  }
  const Kernels& kernels = KernelsOf(path);
  VqStats own[2];
  float wt[kMaxVectorLength];
  double total = 0.0;
  for (int32_t j = 0; j < length; ++j) {
    wt[j] = weight[j] * target[j];
    total += double(wt[j]) * target[j];
  }
  if (!given) {
    kernels.stats(cb0.columns, nullptr, wt, weight, length, own[0].c, own[0].e);
    kernels.stats(cb1.columns, nullptr, wt, weight, length, own[1].c, own[1].e);
  }
  const VqStats& s0 = given ? given[0] : own[0];
  const VqStats& s1 = given ? given[1] : own[1];

  int32_t list0[kMaxEntries], list1[kMaxEntries];
  const int32_t n0 = Preselect(kernels, cb0, s0, preselect, list0);
  const int32_t n1 = Preselect(kernels, cb1, s1, preselect, list1);
  const int32_t signs0 = cb0.Signed() ? 2 : 1;

  // Cross terms of every pair: the chosen entries' values gathered value after value, the
  // first book's weighted, the second's padded with zeros to whole lanes.
  const int32_t width = (n1 + kLanes - 1) / kLanes * kLanes;
  float* u = scratch->u;
  float* g = scratch->g;
  for (int32_t b = n1; b < width; ++b) list1[b] = 0;  // whole lanes read valid entries
  kernels.gather(cb0, cb1, weight, length, list0, n0, list1, n1, width, u, g);
  float (*x)[kMaxEntries] = scratch->x;
  kernels.cross(u, g, length, n0, width, x);

  // Every pair's error with each sign of the first entry (the second's sign follows), the
  // first least in the search's order.
  float c0[kMaxEntries], e0[kMaxEntries], c1[kMaxEntries], e1[kMaxEntries];
  for (int32_t a = 0; a < n0; ++a) {
    c0[a] = s0.c[list0[a]];
    e0[a] = s0.e[list0[a]];
  }
  for (int32_t b = 0; b < n1; ++b) {
    c1[b] = s1.c[list1[b]];
    e1[b] = s1.e[list1[b]];
  }
  for (int32_t b = n1; b < width; ++b) c1[b] = e1[b] = 0.0f;
  const bool signed1 = cb1.Signed();
  const PairChoice pair = kernels.pairs(c0, e0, n0, c1, e1, x, n1, signs0, signed1);
  VqChoice best{0, 0, HUGE_VAL};
  if (pair.a >= 0) {
    const float sign0 = pair.sign0 ? -1.0f : 1.0f;
    const bool minus1 = signed1 && c1[pair.b] - sign0 * x[pair.a][pair.b] < 0.0f;
    best = VqChoice{list0[pair.a] | (pair.sign0 ? 64 : 0), list1[pair.b] | (minus1 ? 64 : 0),
                    total + double(pair.rest)};
  }
  if (!(best.error < HUGE_VAL)) best = VqChoice{0, 0, total};  // weights or target not finite
  return best;
}

}  // namespace tvqenc
