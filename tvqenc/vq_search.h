// Weighted search of one interleaved vector over the decoder's two codebooks:
// the decoded vector is s0 * cb0[i0] + s1 * cb1[i1] (first `length` values of each entry),
// where a 7-bit field carries a sign (top bit set: minus) and a 6-bit index, and a
// narrower field only an index. The search minimises sum_j w_j (t_j - decoded_j)^2.
#pragma once

#include <cstdint>

namespace tvqenc {

struct Codebook {
  const float* values;    // entries of `stride` values each (the decoder's int16 values)
  const float* columns;   // the same transposed: value j of entry e at [j * 64 + e]
  int32_t stride;         // a multiple of 4 (rows zero-padded): read four values at a time
  int32_t bits;           // field width: 7 = sign + 6-bit index; otherwise an index
  int32_t Entries() const { return bits >= 7 ? 1 << (bits - 1) : 1 << bits; }
  bool Signed() const { return bits >= 7; }
};

struct VqChoice {
  int32_t field0, field1;  // the two field values, sign bit included
  double error;            // weighted squared error of the choice
};

constexpr int32_t kMaxVectorLength = 64;
constexpr int32_t kBookEntries = 64;  // entries per book (a 7-bit field adds only a sign)

// The transposed copy SearchVq reads: stride rows of 64 values.
void TransposeBook(const float* values, int32_t stride, float* columns);

// Decoded vector of a choice: length values into out.
void DecodeVq(const Codebook& cb0, const Codebook& cb1, int32_t field0, int32_t field1,
              int32_t length, float* out);

// Each entry's correlation with the weighted target and its weighted energy:
// c = sum_j w_j t_j v_j, e = sum_j w_j v_j^2.
struct alignas(32) VqStats {
  float c[kBookEntries], e[kBookEntries];
};

// The statistics as the search computes them (wt_j = w_j t_j), on the fastest path. With
// rows, term j is value rows[j] of the entries (ascending rows: the terms left out are
// those of zero weight, whose +-0 products leave the sums, which start at +0, as they are).
void ComputeVqStats(const Codebook& cb, const float* wt, const float* w, int32_t length,
                    VqStats* out, const int32_t* rows = nullptr);

// The statistics of a vector spread over channels whose target and weights scale with each
// channel's gain: out = sum over channels of unit[ch] with c scaled by gains[ch], e by its
// square, from each channel's statistics at unit gain.
void ScaleVqStats(const VqStats* unit, const float* gains, int32_t channels, VqStats* out);

// Room for one search's gathered entries and cross terms (48 KB), kept by the caller: on the
// stack it would be set up anew for every search, page by page in the Windows builds.
struct alignas(64) VqScratch {
  float u[kMaxVectorLength * kBookEntries], g[kMaxVectorLength * kBookEntries];
  float x[kBookEntries][kBookEntries];
};

// preselect = 0: every pair of entries; otherwise the `preselect` best entries of each book
// on their own (each with its best sign) and every pair among them. Runs on the fastest
// path this processor has. Without scratch, the search takes its own. `given`: the two
// books' statistics where the caller has them (made from sums it keeps), else computed here.
VqChoice SearchVq(const Codebook& cb0, const Codebook& cb1, const float* target,
                  const float* weight, int32_t length, int32_t preselect,
                  VqScratch* scratch = nullptr, const VqStats* given = nullptr);

// The paths of the search's vector loops: the plain build, and AVX2 where the processor has
// it. Both make the same float operations in the same order per codebook entry (no fused
// multiply-add), so they choose the same indices.
enum class VqPath { kPlain, kAvx2 };
bool VqPathAvailable(VqPath path);
VqChoice SearchVqOn(VqPath path, const Codebook& cb0, const Codebook& cb1, const float* target,
                    const float* weight, int32_t length, int32_t preselect,
                    VqScratch* scratch = nullptr, const VqStats* given = nullptr);

}  // namespace tvqenc
