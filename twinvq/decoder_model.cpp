// The decoder model. Where the reference arithmetic mixes float and double, the same
// conversions happen here (noted as "float step" / "double step"), since an encoder that
// predicts the decoder needs its values, not merely close ones.
#include "decoder_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace twinvq {
namespace {

// The largest frame size of the modes (44 kHz), for the stack arrays of a frame's values.
constexpr int32_t kMaxModeFrameSize = 2048;

// Inverse mu-law: clip · sign(y) · ((1 + mu)^|y/clip| - 1) / mu, with y/clip limited to ±1.
float MuLawExpand(float y, float clip, float mu) {
  float r = y / clip;
  r = std::min(std::max(r, -1.0f), 1.0f);
  const double grown = std::exp(std::log(static_cast<double>(1 + mu)) * std::fabs(static_cast<double>(r)));
  const float signedClip = clip * (r > 0 ? 1 : -1);
  return static_cast<float>(signedClip * (grown - 1) / mu);
}

// Pushes neighbours closer than minGap apart around their mean.
void SpreadLsp(float* lsp, int32_t order, float minGap) {
  const float half = static_cast<float>(minGap * 0.5);
  for (int32_t i = 1; i < order; ++i) {
    if (lsp[i] - lsp[i - 1] < minGap) {
      const float mean = static_cast<float>((lsp[i] + lsp[i - 1]) * 0.5);
      lsp[i - 1] = mean - half;
      lsp[i] = mean + half;
    }
  }
}

// 0.5 / |A(w)|² from the doubled LSP cosines, at a frequency given by its cosine.
float LpcPowerAt(const float* doubledCosines, float cosine, int32_t order) {
  const float twoCos = 2.0f * cosine;
  float even = 0.5f, odd = 0.5f;
  for (int32_t j = 0; j + 1 < order; j += 4) {
    even *= doubledCosines[j] - twoCos;
    odd *= doubledCosines[j + 1] - twoCos;
    even *= doubledCosines[j + 2] - twoCos;
    odd *= doubledCosines[j + 3] - twoCos;
  }
  odd *= odd * (2.0f - twoCos);
  even *= even * (2.0f + twoCos);
  return static_cast<float>(0.5 / (odd + even));
}

// LpcPowerAt for count cosines: out[k] at cosineOf(k). Four at a time in vector registers,
// each lane with the same products and sums as LpcPowerAt, so the values are the same.
template <typename CosineOf>
void LpcPowersAt(const float* doubledCosines, int32_t order, CosineOf cosineOf, int32_t count,
                 float* out) {
  int32_t k = 0;
#if defined(__SSE2__)
  const __m128 two = _mm_set1_ps(2.0f), half = _mm_set1_ps(0.5f);
  for (; k + 4 <= count; k += 4) {
    const __m128 cosines = _mm_setr_ps(cosineOf(k), cosineOf(k + 1), cosineOf(k + 2), cosineOf(k + 3));
    const __m128 twoCos = _mm_mul_ps(two, cosines);
    __m128 even = half, odd = half;
    for (int32_t j = 0; j + 1 < order; j += 4) {
      even = _mm_mul_ps(even, _mm_sub_ps(_mm_set1_ps(doubledCosines[j]), twoCos));
      odd = _mm_mul_ps(odd, _mm_sub_ps(_mm_set1_ps(doubledCosines[j + 1]), twoCos));
      even = _mm_mul_ps(even, _mm_sub_ps(_mm_set1_ps(doubledCosines[j + 2]), twoCos));
      odd = _mm_mul_ps(odd, _mm_sub_ps(_mm_set1_ps(doubledCosines[j + 3]), twoCos));
    }
    odd = _mm_mul_ps(odd, _mm_mul_ps(odd, _mm_sub_ps(two, twoCos)));
    even = _mm_mul_ps(even, _mm_mul_ps(even, _mm_add_ps(two, twoCos)));
    // A float quotient: a double one rounded to float is the same number (the double
    // has more than twice the float's precision and two bits).
    _mm_storeu_ps(out + k, _mm_div_ps(half, _mm_add_ps(odd, even)));
  }
#endif
  for (; k < count; ++k) out[k] = LpcPowerAt(doubledCosines, cosineOf(k), order);
}

// count values stepping evenly from `from` towards `to` (both excluded).
void Ramp(float* out, float to, float from, int32_t count) {
  const float step = (to - from) / (count + 1);
  for (int32_t i = 0; i < count; ++i) {
    from += step;
    out[i] = from;
  }
}

// A straight line for Ramp: count values at out + at, from `from` towards `to`.
struct RampJob {
  int32_t at, count;
  float from, to;
};

// Ramp for each job. Each line's sum runs one addition after another, so four lines run
// side by side in vector lanes (each lane with Ramp's own arithmetic) and are then stored.
void Ramps(float* out, const RampJob* jobs, int32_t jobCount) {
  int32_t j = 0;
#if defined(__SSE2__)
  constexpr int32_t kMostValues = 16;
  alignas(16) float lanes[kMostValues][4];
  for (; j + 4 <= jobCount; j += 4) {
    const RampJob* g = jobs + j;
    const int32_t most = std::max(std::max(g[0].count, g[1].count), std::max(g[2].count, g[3].count));
    if (most > kMostValues) break;
    __m128 from = _mm_setr_ps(g[0].from, g[1].from, g[2].from, g[3].from);
    const __m128 to = _mm_setr_ps(g[0].to, g[1].to, g[2].to, g[3].to);
    const __m128 divisor = _mm_setr_ps(float(g[0].count + 1), float(g[1].count + 1),
                                       float(g[2].count + 1), float(g[3].count + 1));
    const __m128 step = _mm_div_ps(_mm_sub_ps(to, from), divisor);
    for (int32_t k = 0; k < most; ++k) {
      from = _mm_add_ps(from, step);
      _mm_store_ps(lanes[k], from);
    }
    for (int32_t l = 0; l < 4; ++l) {
      float* line = out + g[l].at;
      for (int32_t k = 0; k < g[l].count; ++k) line[k] = lanes[k][l];
    }
  }
#endif
  for (; j < jobCount; ++j) Ramp(out + jobs[j].at, jobs[j].to, jobs[j].from, jobs[j].count);
}

// One half of a medium or long envelope: evaluated every `step` bins, in between a straight
// line, or, where the curve bends (a dip), one more evaluated value at the midpoint. The
// choice reads only the values every `step` bins, so all of them are evaluated first, then
// all the midpoints, each batch at once, then all the lines.
void EnvelopeHalf(const float* grid, bool upper, const float* doubledCosines, int32_t order,
                  float* out, int32_t size, int32_t step) {
  auto cosineAt = [&](int32_t i) { return upper ? -grid[size - i - 1] : grid[i]; };
  float values[kMaxModeFrameSize / 2];
  const int32_t count = size / step;
  LpcPowersAt(doubledCosines, order, [&](int32_t k) { return cosineAt(k * step); }, count, values);
  for (int32_t c = 0; c < count; ++c) out[c * step] = values[c];

  int32_t mids[kMaxModeFrameSize / 2];
  int32_t midCount = 0;
  for (int32_t i = step; i <= size - 2 * step; i += step) {
    const float sides = out[i + step] + out[i - step];  // float step
    // Both tests taken and the midpoint kept only at a dip: no branch to mispredict.
    const bool straight = (sides > 1.95 * out[i]) | (out[i + step] >= out[i - step]);
    mids[midCount] = i - step / 2;
    midCount += !straight;
  }
  LpcPowersAt(doubledCosines, order, [&](int32_t k) { return cosineAt(mids[k]); }, midCount, values);
  RampJob jobs[kMaxModeFrameSize / 2 + 1];
  int32_t jobCount = 0;
  int32_t m = 0;
  for (int32_t i = step; i <= size - 2 * step; i += step) {
    const int32_t mid = i - step / 2;
    if (m == midCount || mids[m] != mid) {
      jobs[jobCount++] = {i - step + 1, step - 1, out[i - step], out[i]};
    } else {
      out[mid] = values[m++];
      jobs[jobCount++] = {i - step + 1, step / 2 - 1, out[i - step], out[mid]};
      jobs[jobCount++] = {mid + 1, step / 2 - 1, out[mid], out[i]};
    }
  }
  jobs[jobCount++] = {size - 2 * step + 1, step - 1, out[size - 2 * step], out[size - step]};
  Ramps(out, jobs, jobCount);
}

// Sine-window overlap of len·2 samples: the previous block's tail fades out, the new
// block's head (read backwards) fades in.
void OverlapBlocks(float* out, const float* tail, const float* head, const float* window,
                   int32_t len) {
  for (int32_t k = 0; k < len; ++k) {
    const float a = tail[k];
    const float b = head[len - 1 - k];
    const float rising = window[k];
    const float falling = window[2 * len - 1 - k];
    out[k] = a * falling - b * rising;
    out[2 * len - 1 - k] = a * rising + b * falling;
  }
}

// cos(x) in double, within about an ulp: a quarter turn taken off (pi/2 in two parts, so
// that the remainder is exact), then the Taylor series of cos or sin on |r| <= pi/4, whose
// cut-off terms are below 1e-17. The runtime libraries' cos runs in long double on Windows
// and costs more than the rest of the envelope; rounded to float, both give the same value.
double Cosine(double x) {
  if (!(std::fabs(x) <= 64.0)) return std::cos(x);
  constexpr double kTwoOverPi = 0.63661977236758134308;
  constexpr double kHalfPiHigh = 1.57079632673412561417;   // the first 33 bits of pi/2
  constexpr double kHalfPiLow = 6.07710050650619224932e-11;  // pi/2 - kHalfPiHigh
  const double turns = std::floor(x * kTwoOverPi + 0.5);
  const double r = (x - turns * kHalfPiHigh) - turns * kHalfPiLow;
  const double r2 = r * r;
  double c = 1.0 / 20922789888000.0;  // 1/16!
  double s = 1.0 / 355687428096000.0;  // 1/17!
  constexpr double kCos[] = {-1.0 / 87178291200.0, 1.0 / 479001600.0, -1.0 / 3628800.0,
                             1.0 / 40320.0,        -1.0 / 720.0,      1.0 / 24.0,
                             -1.0 / 2.0,           1.0};
  constexpr double kSin[] = {-1.0 / 1307674368000.0, 1.0 / 6227020800.0, -1.0 / 39916800.0,
                             1.0 / 362880.0,         -1.0 / 5040.0,      1.0 / 120.0,
                             -1.0 / 6.0,             1.0};
  for (double k : kCos) c = c * r2 + k;
  for (double k : kSin) s = s * r2 + k;
  s *= r;
  switch (static_cast<int32_t>(turns) & 3) {
    case 0: return c;
    case 1: return -s;
    case 2: return -c;
    default: return s;
  }
}

int32_t Log2Floor(int32_t v) {
  int32_t n = 0;
  while (v > 1) {
    v >>= 1;
    ++n;
  }
  return n;
}

}  // namespace

float LspCodebookValue(const RateMode& mode, int32_t i) {
  return static_cast<float>(mode.lspCodebook[i] / 10000.0);
}

int32_t LspSplitEnd(const RateMode& mode, int32_t split) {
  // Splits end a little before their even share, the last one at the order.
  const bool fourSplits = mode.lspSplits == 4;
  const int32_t endOffset[4] = {-2, fourSplits ? -2 : 1, fourSplits ? -2 : 1, 0};
  return ((split + 1) * mode.lspOrder + endOffset[split]) / mode.lspSplits;
}

float LongBlockGain(int32_t gainIndex) {
  const float step = static_cast<float>(13000.0 / 255);
  const float level = static_cast<float>(step * 0.5 + step * (gainIndex & 255));  // float step inside
  return static_cast<float>((1.0 / (1 << 13)) * MuLawExpand(level, 13000.0f, 100.0f));
}

float SubBlockGain(int32_t gainIndex, int32_t subGainIndex) {
  const float step = static_cast<float>(13000.0 / 255);
  const float subStep = static_cast<float>(4500.0 / 31);
  const float level = static_cast<float>(step * 0.5 + step * (gainIndex & 255));
  const float base = static_cast<float>((1.0 / (1 << 23)) * MuLawExpand(level, 13000.0f, 100.0f));
  const float subLevel = static_cast<float>(subStep * 0.5 + subStep * (subGainIndex & 31));
  return base * MuLawExpand(subLevel, 4500.0f, 100.0f);
}

void DequantizePart(const StreamSetup& setup, BlockKind part, const int32_t (*pairs)[2],
                    float* out) {
  const VectorPart& p = setup.part(part);
  // Room for the last vector's group of four to run past the values.
  float values[kMaxChannels * kMaxModeFrameSize + 4];
  int32_t k = 0;
  for (int32_t i = 0; i < p.pairs; ++i) {
    int32_t index[2] = {pairs[i][0], pairs[i][1]};
    const int32_t bits[2] = {p.FirstBits(i), p.SecondBits(i)};
    float sign[2] = {1, 1};
    for (int32_t b = 0; b < 2; ++b) {
      if (bits[b] == 7 && (index[b] & 0x40)) sign[b] = -1;
      index[b] &= 0x3F;
    }
    const float* first = p.paddedBook[0].data() + index[0] * p.paddedStride;
    const float* second = p.paddedBook[1].data() + index[1] * p.paddedStride;
    const int32_t length = p.VectorLength(i);
    // Signed sums of 16-bit entries are exact in float; adding +0 turns the -0 of two
    // negated zeros into the +0 that the integer sum gives. Groups of four, the last one
    // running into the next vector's place, which that vector then overwrites.
#if defined(__SSE2__)
    const __m128 s0 = _mm_set1_ps(sign[0]), s1 = _mm_set1_ps(sign[1]), zero = _mm_setzero_ps();
    for (int32_t e = 0; e < length; e += 4) {
      const __m128 sum = _mm_add_ps(_mm_mul_ps(s0, _mm_loadu_ps(first + e)),
                                    _mm_mul_ps(s1, _mm_loadu_ps(second + e)));
      _mm_storeu_ps(values + k + e, _mm_add_ps(sum, zero));
    }
#else
    for (int32_t e = 0; e < length; ++e) values[k + e] = (sign[0] * first[e] + sign[1] * second[e]) + 0.0f;
#endif
    k += length;
  }
  // Each slot fetches its value: loads in any order, stores in turn (stores scattered over
  // the spectrum cost the most here).
  const int32_t* source = p.source.data();
  for (int32_t i = 0; i < k; ++i) out[i] = values[source[i]];
}

void DecodeGains(const StreamSetup& setup, const FrameValues& v,
                 float gains[kMaxChannels][kMaxSubBlocks]) {
  const BlockKind kind = v.kind();
  for (int32_t ch = 0; ch < setup.channels(); ++ch) {
    if (kind == kLongBlock) {
      gains[ch][0] = LongBlockGain(v.gain[ch]);
      continue;
    }
    for (int32_t s = 0; s < setup.subBlocks(kind); ++s) {
      gains[ch][s] = SubBlockGain(v.gain[ch], v.subGain[ch][s]);
    }
  }
}

float BarkHistoryBlend(BlockKind kind) {
  static const float kBlend[3] = {0.4f, 0.35f, 0.28f};
  return kBlend[kind];
}

namespace {

// The bark envelope's value in each band of one sub-block, times gain (bandCount values);
// updates history as BarkEnvelope describes.
void BarkBandValues(const StreamSetup& setup, BlockKind kind, const int32_t* barkIndices,
                    bool useHistory, float gain, float* history, float* out) {
  const BlockTables& b = setup.mode().block[kind];
  const int32_t rows = b.bandCount / b.barkValues;
  const float blend = BarkHistoryBlend(kind);
  int32_t band = 0;
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t j = 0; j < b.barkValues; ++j, ++band) {
      const int32_t entry = barkIndices[j] & ((1 << b.barkBits) - 1);
      const float c = static_cast<float>(b.barkCodebook[rows * entry + r] * (1.0 / 4096));
      float level = useHistory
                        ? static_cast<float>((1.0 - blend) * c + (blend * history[band]) + 1.0)
                        : static_cast<float>(c + 1.0);
      history[band] = c;
      if (level < -1.0f) level = 1.0f;
      out[band] = level * gain;
    }
  }
}

}  // namespace

void BarkEnvelope(const StreamSetup& setup, BlockKind kind, const int32_t* barkIndices,
                  bool useHistory, float gain, float* history, float* out) {
  const BlockTables& b = setup.mode().block[kind];
  float bands[kMaxBands];
  BarkBandValues(setup, kind, barkIndices, useHistory, gain, history, bands);
  for (int32_t band = 0; band < b.bandCount; ++band) {
    for (int32_t i = 0; i < b.bandWidths[band]; ++i) *out++ = bands[band];
  }
}

float PeakGain(const StreamSetup& setup, int32_t gainIndex) {
  const float step = static_cast<float>(25000.0 / ((1 << setup.mode().peakGainBits) - 1));
  const float level = step * gainIndex + step / 2;
  return static_cast<float>(1.0 / 8192 * MuLawExpand(level, 25000.0f, 200.0f));
}

int32_t PeakCentre(int32_t period, int32_t k) {
  int32_t x = period * k + 200;
  if (x % 400 != 0 || k % 5 != 0) return x / 400;
  // An exact half bin: the stored rows tell which way the tie goes.
  x /= 400;
  if (k / 5 >= 13) return x;
  const TieRows& rows = kPeakTieRows[k / 5];
  const int32_t at = rows.width * Log2Floor(2 * (x - 1) / rows.width) + (x - 1) % rows.width;
  if (at < 0 || at >= rows.width * rows.count) return x;
  return x - rows.values[at];
}

int32_t PeakBins(const StreamSetup& setup, int32_t periodIndex, int32_t* bins) {
  periodIndex &= (1 << setup.mode().peakPeriodBits) - 1;
  const int32_t length = std::min(setup.mode().peakShapeLength, kMaxPeakShapeLength);
  const int32_t period = setup.PeakPeriod(periodIndex);
  const int32_t width = setup.PeakWidth(period);
  const int32_t limit = setup.frameSize();
  int32_t m = 0;
  auto put = [&](int32_t bin) {
    if (m < length) bins[m++] = bin >= 0 && bin < limit ? bin : -1;
  };
  if (width > 0) {
    for (int32_t i = 0; i < width / 2; ++i) put(i);
    const int32_t peaks = (length + width / 2) / width;
    int32_t k = 1;
    for (; k < peaks; ++k) {
      const int32_t centre = PeakCentre(period, k);
      for (int32_t j = -width / 2; j < (width + 1) / 2; ++j) put(centre + j);
    }
    const int32_t centre = PeakCentre(period, k);
    for (int32_t j = -width / 2; j < (width + 1) / 2; ++j) put(centre + j);
  }
  while (m < length) put(-1);
  return length;
}

void AddPeaks(const StreamSetup& setup, int32_t periodIndex, int32_t gainIndex,
              const float* shape, float* spectrum) {
  gainIndex &= (1 << setup.mode().peakGainBits) - 1;
  const float gain = PeakGain(setup, gainIndex);
  int32_t bins[kMaxPeakShapeLength];
  const int32_t length = PeakBins(setup, periodIndex, bins);
  for (int32_t i = 0; i < length; ++i) {
    if (bins[i] >= 0) spectrum[bins[i]] += gain * shape[i];
  }
}

void DecodeLsp(const StreamSetup& setup, int32_t historyIndex, int32_t firstIndex,
               const int32_t* splitIndices, float* history, float* lsp) {
  const RateMode& m = setup.mode();
  const int32_t n = m.lspOrder;
  historyIndex &= (1 << m.lsp0Bits) - 1;
  firstIndex &= (1 << m.lsp1Bits) - 1;
  const int32_t splitMask = (1 << m.lsp2Bits) - 1;
  const int32_t second = (1 << m.lsp1Bits) * n;
  const int32_t weights = second + (1 << m.lsp2Bits) * n;
  int32_t j = 0;
  for (int32_t s = 0; s < m.lspSplits; ++s) {
    const int32_t end = LspSplitEnd(m, s);
    for (; j < end; ++j) {
      lsp[j] = LspCodebookValue(m, firstIndex * n + j) +
               LspCodebookValue(m, second + (splitIndices[s] & splitMask) * n + j);
    }
  }
  SpreadLsp(lsp, n, 0.0001f);
  for (int32_t i = 0; i < n; ++i) {
    const float w = LspCodebookValue(m, weights + historyIndex * n + i);
    const float keep = static_cast<float>(1.0 - w);
    const float carried = history[i] * w;
    history[i] = lsp[i];
    lsp[i] = lsp[i] * keep + carried;
  }
  SpreadLsp(lsp, n, 0.0001f);
  SpreadLsp(lsp, n, 0.000095f);
  std::sort(lsp, lsp + n);
}

void LpcEnvelope(const StreamSetup& setup, BlockKind kind, const float* lsp, float* out) {
  const int32_t order = setup.mode().lspOrder;
  float doubled[kMaxLspOrder];
  for (int32_t i = 0; i < order; ++i) {
    doubled[i] = static_cast<float>(2 * Cosine(static_cast<double>(lsp[i])));
  }
  const int32_t size = setup.blockSize(kind);
  const float* grid = setup.CosineGrid(kind);
  if (kind == kShortBlock) {
    // The lower half at the grid's cosines, the upper half (from the top) at their negations.
    LpcPowersAt(doubled, order, [&](int32_t i) { return grid[i]; }, size / 2, out);
    LpcPowersAt(doubled, order, [&](int32_t i) { return -grid[i]; }, size / 2, out + size / 2);
    std::reverse(out + size / 2, out + size);
    return;
  }
  // Lower half every `step` bins, upper half every 2·step; the seam is bridged and the
  // top bins hold the last evaluated value.
  const int32_t step = kind == kLongBlock ? 8 : 2;
  const int32_t half = size / 2;
  EnvelopeHalf(grid, false, doubled, order, out, half, step);
  EnvelopeHalf(grid, true, doubled, order, out + half, half, 2 * step);
  Ramp(out + half - step + 1, out[half], out[half - step], step);
  std::fill(out + size - 2 * step + 1, out + size, out[size - 2 * step]);
}

DecoderModel::DecoderModel(const StreamSetup& setup) : setup_(setup) {
  // Each block's transform is sqrt(norm / blockSize) / 2^15 times the half-IMDCT of
  // imdct.h, norm 2 for mono and 1 for stereo (whose channels are sum and difference).
  const double channelNorm = setup.channels() == 1 ? 2.0 : 1.0;
  for (int32_t k = 0; k < 3; ++k) {
    const int32_t bs = setup.blockSize(static_cast<BlockKind>(k));
    imdct_[k].Init(bs, std::sqrt(channelNorm / bs) / (1 << 15));
  }
  const size_t perChannel = 2 * size_t(setup.frameSize());
  current_.resize(perChannel * setup.channels());
  previous_.resize(perChannel * setup.channels());
  ahead_.resize(perChannel * setup.channels());
  blockOutput_.resize(setup.frameSize());
  scratch_.resize(setup.frameSize());
  Reset();
}

void DecoderModel::Reset() {
  std::memset(barkHistory_, 0, sizeof barkHistory_);
  // A fresh reference decoder starts with these three short-block values at 0.1.
  for (int32_t i = 0; i < 3; ++i) barkHistory_[kShortBlock][0][i] = 0.1f;
  std::memset(lspHistory_, 0, sizeof lspHistory_);
  std::fill(current_.begin(), current_.end(), 0.0f);
  std::fill(previous_.begin(), previous_.end(), 0.0f);
  outputStart_ = 0;
}

void DecoderModel::DecodeSpectrum(const FrameValues& v, float* spectrum) {
  std::memcpy(undoBark_, barkHistory_, sizeof barkHistory_);
  std::memcpy(undoLsp_, lspHistory_, sizeof lspHistory_);
  const BlockKind kind = v.kind();
  const int32_t n = setup_.frameSize();
  const int32_t sub = setup_.subBlocks(kind);
  const int32_t bs = setup_.blockSize(kind);
  DequantizePart(setup_, kind, v.main, spectrum);
  float gains[kMaxChannels][kMaxSubBlocks];
  DecodeGains(setup_, v, gains);
  float peakShape[kMaxChannels * 64];
  if (kind == kLongBlock) DequantizePart(setup_, kPeakPart, v.peak, peakShape);
  float* envelope = scratch_.data();
  const BlockTables& barkBands = setup_.mode().block[kind];
  for (int32_t ch = 0; ch < setup_.channels(); ++ch) {
    float* channel = spectrum + ch * n;
    for (int32_t s = 0; s < sub; ++s) {
      // Each band's bins times its value: the bark envelope without spreading it out first.
      float bands[kMaxBands];
      BarkBandValues(setup_, kind, v.bark[ch][s], v.barkHistory[ch][s] != 0, gains[ch][s],
                     barkHistory_[kind][ch], bands);
      float* bin = channel + s * bs;
      for (int32_t band = 0; band < barkBands.bandCount; ++band) {
        const float value = bands[band];
        for (int32_t i = 0; i < barkBands.bandWidths[band]; ++i) *bin++ *= value;
      }
    }
    if (kind == kLongBlock) {
      AddPeaks(setup_, v.peakPeriod[ch], v.peakGain[ch],
               peakShape + ch * setup_.mode().peakShapeLength, channel);
    }
    float lsp[kMaxLspOrder];
    DecodeLsp(setup_, v.lspHistory[ch], v.lspFirst[ch], v.lspSecond[ch], lspHistory_[ch], lsp);
    LpcEnvelope(setup_, kind, lsp, envelope);
    for (int32_t s = 0; s < sub; ++s) {
      for (int32_t i = 0; i < bs; ++i) channel[s * bs + i] *= envelope[i];
    }
  }
}

void DecoderModel::Synthesize(int32_t windowType, const float* spectrum, float* out) {
  // Overlap length at the start of each window type: the frame, a medium block or half a
  // short block.
  static const int32_t kOverlapClass[kWindowTypeCount] = {0, 0, 2, 2, 2, 1, 0, 1, 1};
  if (windowType < 0 || windowType >= kWindowTypeCount) windowType = 0;
  const BlockKind kind = BlockKindOfWindowType(windowType);
  const int32_t n = setup_.frameSize();
  const int32_t sub = setup_.subBlocks(kind);
  const int32_t bs = setup_.blockSize(kind);
  const int32_t overlaps[3] = {n, setup_.blockSize(kMediumBlock), setup_.blockSize(kShortBlock) / 2};
  const int32_t firstOverlap = overlaps[kOverlapClass[windowType]];
  const int32_t channels = setup_.channels();

  for (int32_t ch = 0; ch < channels; ++ch) {
    const float* tail = previous_.data() + 2 * n * ch + outputStart_ + (n - bs) / 2;
    float* write = current_.data() + 2 * n * ch;
    for (int32_t s = 0; s < sub; ++s) {
      int32_t type = kind == kMediumBlock ? 8 : windowType;
      if (s == 0 && windowType == 4) type = 4;
      if (s == sub - 1 && s != 0 && windowType == 7) type = 7;
      const int32_t overlap = overlaps[kOverlapClass[type]];
      float* block = blockOutput_.data() + s * bs;
      imdct_[kind].Run(spectrum + ch * n + s * bs, block);
      OverlapBlocks(write, tail + (bs - overlap) / 2, block, setup_.Window(overlap), overlap / 2);
      write += overlap;
      std::copy(block + overlap / 2, block + bs, write);
      write += kind == kMediumBlock ? (bs - overlap) / 2 : bs - overlap;
      tail = block + bs / 2;
    }
  }

  // The output: the rest of the previous frame's buffer, then this frame's; stereo as the
  // sum and difference of the two channels.
  const int32_t newStart = (n + firstOverlap) / 2;
  const int32_t fromPrevious = n - newStart;
  const float* parts[2] = {previous_.data() + outputStart_, current_.data()};
  const int32_t partLength[2] = {fromPrevious, n - fromPrevious};
  for (int32_t part = 0; part < 2; ++part) {
    const float* first = parts[part];
    if (channels == 1) {
      std::copy(first, first + partLength[part], out);
    } else {
      const float* second = first + 2 * n;
      for (int32_t t = 0; t < partLength[part]; ++t) {
        out[2 * t] = first[t] + second[t];
        out[2 * t + 1] = first[t] - second[t];
      }
    }
    out += partLength[part] * channels;
  }
  current_.swap(previous_);
  undoOutputStart_ = outputStart_;
  outputStart_ = newStart;
}

// Synthesize wrote the buffer that is now previous_ and left the other as it was: swapping
// back restores the overlap it read (what it wrote, it writes again the next time).
void DecoderModel::UndoSynthesis() {
  current_.swap(previous_);
  outputStart_ = undoOutputStart_;
}

void DecoderModel::SynthesizeAhead(int32_t windowType, const float* spectrum, float* out) {
  const int32_t start = outputStart_, undoStart = undoOutputStart_;
  current_.swap(ahead_);
  Synthesize(windowType, spectrum, out);  // wrote ahead_'s buffer, now previous_
  current_.swap(previous_);
  current_.swap(ahead_);
  outputStart_ = start;
  undoOutputStart_ = undoStart;
}

void DecoderModel::UndoFrame() {
  std::memcpy(barkHistory_, undoBark_, sizeof barkHistory_);
  std::memcpy(lspHistory_, undoLsp_, sizeof lspHistory_);
  UndoSynthesis();
}

bool DecoderModel::DecodeFrame(const FrameValues& values, float* out) {
  if (!ValuesFitFields(setup_, values)) return false;
  std::vector<float> spectrum(size_t(setup_.frameSize()) * setup_.channels());
  DecodeSpectrum(values, spectrum.data());
  Synthesize(values.windowType, spectrum.data(), out);
  return true;
}

}  // namespace twinvq
