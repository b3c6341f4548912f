// DCT-IV through a complex FFT of half the size: even inputs as real parts, odd inputs in
// reverse as imaginary parts, a twiddle before and after; the even outputs are the real
// parts, the odd outputs (from the top) the negated imaginary parts.
//
// The FFT keeps real and imaginary parts in two arrays, so that each butterfly stage is a
// plain loop over consecutive values that the compiler runs in vector registers; every
// value still takes the same products and sums in the same order as one butterfly at a time.
#include "imdct.h"
#include "processor_features.h"

#include <cmath>

// The later stages have an AVX2 copy, built for x86 with GCC or clang and used where the
// processor has AVX2 and the plain build's float arithmetic is SSE too (x86-64, and the
// 32-bit build, compiled for SSE2), so that both round alike: neither fuses a multiply and
// an add (this file is compiled with -ffp-contract=off).
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define TWINVQ_AVX2_STAGES 1
#define TWINVQ_INLINE inline __attribute__((always_inline))
#else
#define TWINVQ_AVX2_STAGES 0
#define TWINVQ_INLINE inline
#endif

namespace twinvq {
namespace {
constexpr double kPi = 3.14159265358979323846;

// One radix-2 stage: each group of 2·span values gets low ± root·high.
TWINVQ_INLINE void Butterflies(float* __restrict re, float* __restrict im,
                               const float* __restrict rootRe, const float* __restrict rootIm,
                               int32_t span, int32_t half) {
  for (int32_t start = 0; start < half; start += 2 * span) {
    float* __restrict lowRe = re + start;
    float* __restrict lowIm = im + start;
    float* __restrict highRe = re + start + span;
    float* __restrict highIm = im + start + span;
    for (int32_t i = 0; i < span; ++i) {
      const float rr = rootRe[i], ri = rootIm[i];
      const float hr = highRe[i], hi = highIm[i];
      const float oddRe = hr * rr - hi * ri, oddIm = hr * ri + hi * rr;
      const float lr = lowRe[i], li = lowIm[i];
      highRe[i] = lr - oddRe;
      highIm[i] = li - oddIm;
      lowRe[i] = lr + oddRe;
      lowIm[i] = li + oddIm;
    }
  }
}

// The stages from `span` on, each a call of Butterflies.
void PlainStages(float* re, float* im, const float* roots, const float* rootsIm, int32_t span,
                 int32_t half) {
  for (; span < half; span *= 2) {
    Butterflies(re, im, roots + span - 1, rootsIm + span - 1, span, half);
  }
}

#if TWINVQ_AVX2_STAGES
__attribute__((target("avx2"))) void Avx2Stages(float* re, float* im, const float* roots,
                                                const float* rootsIm, int32_t span, int32_t half) {
  for (; span < half; span *= 2) {
    Butterflies(re, im, roots + span - 1, rootsIm + span - 1, span, half);
  }
}
#endif

using StagesFn = void (*)(float*, float*, const float*, const float*, int32_t, int32_t);

// Chosen once, when the program or library loads (not a function-local static, whose guard
// would take a lock on every call's first use in each loaded copy).
#if TWINVQ_AVX2_STAGES
const StagesFn kStages = twinvq::ProcessorHasAvx2() ? Avx2Stages : PlainStages;
#else
const StagesFn kStages = PlainStages;
#endif

// The first two stages together (spans 1 and 2) in one pass over groups of four.
void FirstStages(float* __restrict re, float* __restrict im, const float* rootRe,
                 const float* rootIm, int32_t half) {
  const float r1 = rootRe[0], i1 = rootIm[0];                      // span 1
  const float r20 = rootRe[1], i20 = rootIm[1], r21 = rootRe[2], i21 = rootIm[2];  // span 2
  for (int32_t s = 0; s < half; s += 4) {
    float xr[4], xi[4];
    for (int32_t k = 0; k < 4; k += 2) {
      const float hr = re[s + k + 1], hi = im[s + k + 1];
      const float oddRe = hr * r1 - hi * i1, oddIm = hr * i1 + hi * r1;
      const float lr = re[s + k], li = im[s + k];
      xr[k + 1] = lr - oddRe;
      xi[k + 1] = li - oddIm;
      xr[k] = lr + oddRe;
      xi[k] = li + oddIm;
    }
    const float rr[2] = {r20, r21}, ri[2] = {i20, i21};
    for (int32_t k = 0; k < 2; ++k) {
      const float hr = xr[k + 2], hi = xi[k + 2];
      const float oddRe = hr * rr[k] - hi * ri[k], oddIm = hr * ri[k] + hi * rr[k];
      const float lr = xr[k], li = xi[k];
      re[s + k + 2] = lr - oddRe;
      im[s + k + 2] = li - oddIm;
      re[s + k] = lr + oddRe;
      im[s + k] = li + oddIm;
    }
  }
}

}  // namespace

void Dct4::Init(int32_t n) {
  n_ = n;
  const int32_t half = n / 2;
  before_.resize(half);
  after_.resize(half);
  for (int32_t p = 0; p < half; ++p) {
    before_[p] = std::complex<float>(std::polar(1.0, -kPi * p / n));
    after_[p] = std::complex<float>(std::polar(1.0, -kPi * (p + 0.25) / n));
  }
  std::vector<std::complex<double>> roots(half / 2 > 0 ? half / 2 : 1);
  for (int32_t i = 0; i < half / 2; ++i) roots[i] = std::polar(1.0, -2 * kPi * i / half);
  const size_t rootCount = half > 1 ? size_t(half) - 1 : 1;
  rootRe_.assign(rootCount, 1.0f);
  rootIm_.assign(rootCount, 0.0f);
  for (int32_t span = 1; span < half; span *= 2) {
    for (int32_t i = 0; i < span; ++i) {
      const std::complex<float> root(roots[i * (half / (2 * span))]);
      rootRe_[span - 1 + i] = root.real();
      rootIm_[span - 1 + i] = root.imag();
    }
  }
  int32_t bits = 0;
  while ((1 << bits) < half) ++bits;
  bitReversed_.resize(half);
  for (int32_t i = 0; i < half; ++i) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    bitReversed_[i] = r;
  }
  workRe_.resize(half);
  workIm_.resize(half);
}

// Complex values multiplied by hand: the same products and sums as std::complex's, without
// its checks for NaN (which cost most of the time here). `scale` multiplies each output
// after its last sum; `reversed` writes out[n - 1 - m] in place of out[m].
void Dct4::Run(const float* in, float* out, float scale, bool reversed) const {
  const int32_t half = n_ / 2;
  float* re = workRe_.data();
  float* im = workIm_.data();
  const float* before = reinterpret_cast<const float*>(before_.data());
  const float* after = reinterpret_cast<const float*>(after_.data());
  for (int32_t p = 0; p < half; ++p) {
    const float r = in[2 * p], i = in[n_ - 1 - 2 * p];
    const float br = before[2 * p], bi = before[2 * p + 1];
    const int32_t to = bitReversed_[p];
    re[to] = r * br - i * bi;
    im[to] = r * bi + i * br;
  }
  // Radix-2 decimation in time.
  int32_t span = 1;
  if (half >= 4) {
    FirstStages(re, im, rootRe_.data(), rootIm_.data(), half);
    span = 4;
  }
  kStages(re, im, rootRe_.data(), rootIm_.data(), span, half);
  // Two copies of the last twiddle, one per output order, so that each indexes plainly.
  const int32_t last = n_ - 1;
  if (reversed) {
    for (int32_t q = 0; q < half; ++q) {
      const float wr = re[q], wi = im[q];
      const float ar = after[2 * q], ai = after[2 * q + 1];
      out[last - 2 * q] = scale * (wr * ar - wi * ai);
      out[2 * q] = scale * -(wr * ai + wi * ar);
    }
    return;
  }
  for (int32_t q = 0; q < half; ++q) {
    const float wr = re[q], wi = im[q];
    const float ar = after[2 * q], ai = after[2 * q + 1];
    out[2 * q] = scale * (wr * ar - wi * ai);
    out[last - 2 * q] = scale * -(wr * ai + wi * ar);
  }
}

void HalfImdct::Init(int32_t n, double scale) {
  dct_.Init(n);
  scale_ = scale;
}

void HalfImdct::Run(const float* in, float* out) const {
  // The half output is the DCT-IV read backwards and negated.
  dct_.Run(in, out, static_cast<float>(-scale_), true);
}

}  // namespace twinvq
