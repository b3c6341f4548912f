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
#include <complex>
#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

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

// The first two stages together (spans 1 and 2) in one pass over groups of four, reading
// their inputs from the twiddled values in bit-reversed order (fromRe[order[t]] is value t).
void FirstStages(const float* __restrict fromRe, const float* __restrict fromIm,
                 const int32_t* __restrict order, float* __restrict re, float* __restrict im,
                 const float* rootRe, const float* rootIm, int32_t half) {
  const float r1 = rootRe[0], i1 = rootIm[0];                      // span 1
  const float r20 = rootRe[1], i20 = rootIm[1], r21 = rootRe[2], i21 = rootIm[2];  // span 2
  for (int32_t s = 0; s < half; s += 4) {
    float xr[4], xi[4];
    for (int32_t k = 0; k < 4; k += 2) {
      const int32_t low = order[s + k], high = order[s + k + 1];
      const float hr = fromRe[high], hi = fromIm[high];
      const float oddRe = hr * r1 - hi * i1, oddIm = hr * i1 + hi * r1;
      const float lr = fromRe[low], li = fromIm[low];
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

#if defined(__SSE2__)
// FirstStages for four groups at once, one per vector lane (half >= 16). Value k of the
// group at T + r(l) comes from r(T) + r(k) + l (r: bit reversal), so for T a multiple of
// 4 below half / 4, each of the four values of the lanes' groups is one load of four
// consecutive inputs; the lanes' results are turned back into groups to be stored. Where
// half / 4 is a multiple of 8, the groups at T and T + 4 go together through the third
// stage (span 4) as well. Returns the span of the next stage.
int32_t FirstStagesFourGroups(const float* __restrict fromRe, const float* __restrict fromIm,
                              const int32_t* __restrict order, float* __restrict re,
                              float* __restrict im, const float* rootRe, const float* rootIm,
                              int32_t half) {
  const int32_t quarter = half / 4;
  const int32_t valueAt[4] = {0, 2 * quarter, quarter, 3 * quarter};  // r(k), and r(l)
  const __m128 r1 = _mm_set1_ps(rootRe[0]), i1 = _mm_set1_ps(rootIm[0]);
  const __m128 r20 = _mm_set1_ps(rootRe[1]), i20 = _mm_set1_ps(rootIm[1]);
  const __m128 r21 = _mm_set1_ps(rootRe[2]), i21 = _mm_set1_ps(rootIm[2]);
  // low ± root·high, as one butterfly of FirstStages.
  auto butterfly = [](__m128& lowRe, __m128& lowIm, __m128& highRe, __m128& highIm, __m128 rr,
                      __m128 ri) {
    const __m128 oddRe = _mm_sub_ps(_mm_mul_ps(highRe, rr), _mm_mul_ps(highIm, ri));
    const __m128 oddIm = _mm_add_ps(_mm_mul_ps(highRe, ri), _mm_mul_ps(highIm, rr));
    highRe = _mm_sub_ps(lowRe, oddRe);
    highIm = _mm_sub_ps(lowIm, oddIm);
    lowRe = _mm_add_ps(lowRe, oddRe);
    lowIm = _mm_add_ps(lowIm, oddIm);
  };
  // The first two stages for the groups at t + r(l).
  auto twoStages = [&](int32_t t, __m128* xr, __m128* xi) {
    const int32_t from = order[t];
    for (int32_t k = 0; k < 4; ++k) {
      xr[k] = _mm_loadu_ps(fromRe + from + valueAt[k]);
      xi[k] = _mm_loadu_ps(fromIm + from + valueAt[k]);
    }
    butterfly(xr[0], xi[0], xr[1], xi[1], r1, i1);
    butterfly(xr[2], xi[2], xr[3], xi[3], r1, i1);
    butterfly(xr[0], xi[0], xr[2], xi[2], r20, i20);
    butterfly(xr[1], xi[1], xr[3], xi[3], r21, i21);
  };
  auto store = [&](int32_t t, __m128* xr, __m128* xi) {
    _MM_TRANSPOSE4_PS(xr[0], xr[1], xr[2], xr[3]);
    _MM_TRANSPOSE4_PS(xi[0], xi[1], xi[2], xi[3]);
    for (int32_t l = 0; l < 4; ++l) {
      _mm_storeu_ps(re + t + valueAt[l], xr[l]);
      _mm_storeu_ps(im + t + valueAt[l], xi[l]);
    }
  };
  if (quarter % 8 != 0) {
    for (int32_t t = 0; t < quarter; t += 4) {
      __m128 xr[4], xi[4];
      twoStages(t, xr, xi);
      store(t, xr, xi);
    }
    return 4;
  }
  for (int32_t t = 0; t < quarter; t += 8) {
    __m128 ar[4], ai[4], br[4], bi[4];
    twoStages(t, ar, ai);
    twoStages(t + 4, br, bi);
    for (int32_t k = 0; k < 4; ++k) {
      butterfly(ar[k], ai[k], br[k], bi[k], _mm_set1_ps(rootRe[3 + k]), _mm_set1_ps(rootIm[3 + k]));
    }
    store(t, ar, ai);
    store(t + 4, br, bi);
  }
  return 8;
}
#endif

// The twiddle before the FFT: value p is (in[2p] + i·in[n - 1 - 2p]) · before[p].
void TwiddleBefore(const float* __restrict in, int32_t n, const float* __restrict br,
                   const float* __restrict bi, float* __restrict re, float* __restrict im) {
  const int32_t half = n / 2;
  int32_t p = 0;
#if defined(__SSE2__)
  // Four at a time: the even inputs upwards, the odd ones from the top downwards.
  for (; p + 4 <= half; p += 4) {
    const __m128 r = _mm_shuffle_ps(_mm_loadu_ps(in + 2 * p), _mm_loadu_ps(in + 2 * p + 4),
                                    _MM_SHUFFLE(2, 0, 2, 0));
    const __m128 top = _mm_shuffle_ps(_mm_loadu_ps(in + n - 8 - 2 * p),
                                      _mm_loadu_ps(in + n - 4 - 2 * p), _MM_SHUFFLE(3, 1, 3, 1));
    const __m128 i = _mm_shuffle_ps(top, top, _MM_SHUFFLE(0, 1, 2, 3));
    const __m128 cr = _mm_loadu_ps(br + p), ci = _mm_loadu_ps(bi + p);
    _mm_storeu_ps(re + p, _mm_sub_ps(_mm_mul_ps(r, cr), _mm_mul_ps(i, ci)));
    _mm_storeu_ps(im + p, _mm_add_ps(_mm_mul_ps(r, ci), _mm_mul_ps(i, cr)));
  }
#endif
  for (; p < half; ++p) {
    const float r = in[2 * p], i = in[n - 1 - 2 * p];
    re[p] = r * br[p] - i * bi[p];
    im[p] = r * bi[p] + i * br[p];
  }
}

// The twiddle after the FFT with the outputs written last to first: for w = value q times
// after[q], out[n - 1 - 2q] = scale · Re w and out[2q] = scale · -Im w.
void TwiddleAfterReversed(const float* __restrict re, const float* __restrict im, int32_t n,
                          const float* __restrict ar, const float* __restrict ai, float scale,
                          float* __restrict out) {
  const int32_t half = n / 2;
  const int32_t last = n - 1;
#if defined(__SSE2__)
  if (half % 4 == 0) {
    // Outputs 8q..8q+7 hold the imaginary parts of values 4q..4q+3 at even places and the
    // real parts of values half-1-4q down to half-4-4q at odd places.
    const __m128 s = _mm_set1_ps(scale);
    const __m128 sign = _mm_set1_ps(-0.0f);
    for (int32_t q = 0; q < half; q += 4) {
      const int32_t top = half - 4 - q;
      const __m128 wr = _mm_loadu_ps(re + q), wi = _mm_loadu_ps(im + q);
      const __m128 cr = _mm_loadu_ps(ar + q), ci = _mm_loadu_ps(ai + q);
      const __m128 even = _mm_mul_ps(
          s, _mm_xor_ps(sign, _mm_add_ps(_mm_mul_ps(wr, ci), _mm_mul_ps(wi, cr))));
      const __m128 tr = _mm_loadu_ps(re + top), ti = _mm_loadu_ps(im + top);
      const __m128 dr = _mm_loadu_ps(ar + top), di = _mm_loadu_ps(ai + top);
      const __m128 odd = _mm_mul_ps(s, _mm_sub_ps(_mm_mul_ps(tr, dr), _mm_mul_ps(ti, di)));
      const __m128 oddDown = _mm_shuffle_ps(odd, odd, _MM_SHUFFLE(0, 1, 2, 3));
      _mm_storeu_ps(out + 2 * q, _mm_unpacklo_ps(even, oddDown));
      _mm_storeu_ps(out + 2 * q + 4, _mm_unpackhi_ps(even, oddDown));
    }
    return;
  }
#endif
  for (int32_t q = 0; q < half; ++q) {
    const float wr = re[q], wi = im[q];
    out[last - 2 * q] = scale * (wr * ar[q] - wi * ai[q]);
    out[2 * q] = scale * -(wr * ai[q] + wi * ar[q]);
  }
}

}  // namespace

void Dct4::Init(int32_t n) {
  n_ = n;
  const int32_t half = n / 2;
  beforeRe_.resize(half);
  beforeIm_.resize(half);
  afterRe_.resize(half);
  afterIm_.resize(half);
  for (int32_t p = 0; p < half; ++p) {
    const std::complex<float> before(std::polar(1.0, -kPi * p / n));
    const std::complex<float> after(std::polar(1.0, -kPi * (p + 0.25) / n));
    beforeRe_[p] = before.real();
    beforeIm_[p] = before.imag();
    afterRe_[p] = after.real();
    afterIm_[p] = after.imag();
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
  twiddledRe_.resize(half);
  twiddledIm_.resize(half);
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
  float* twRe = twiddledRe_.data();
  float* twIm = twiddledIm_.data();
  TwiddleBefore(in, n_, beforeRe_.data(), beforeIm_.data(), twRe, twIm);
  // Radix-2 decimation in time.
  int32_t span = 1;
  if (half >= 4) {
#if defined(__SSE2__)
    if (half >= 16) {
      span = FirstStagesFourGroups(twRe, twIm, bitReversed_.data(), re, im, rootRe_.data(),
                                   rootIm_.data(), half);
    } else {
      FirstStages(twRe, twIm, bitReversed_.data(), re, im, rootRe_.data(), rootIm_.data(), half);
      span = 4;
    }
#else
    FirstStages(twRe, twIm, bitReversed_.data(), re, im, rootRe_.data(), rootIm_.data(), half);
    span = 4;
#endif
  } else {
    for (int32_t p = 0; p < half; ++p) {
      re[bitReversed_[p]] = twRe[p];
      im[bitReversed_[p]] = twIm[p];
    }
  }
  kStages(re, im, rootRe_.data(), rootIm_.data(), span, half);
  const float* ar = afterRe_.data();
  const float* ai = afterIm_.data();
  if (reversed) {
    TwiddleAfterReversed(re, im, n_, ar, ai, scale, out);
    return;
  }
  const int32_t last = n_ - 1;
  for (int32_t q = 0; q < half; ++q) {
    const float wr = re[q], wi = im[q];
    out[2 * q] = scale * (wr * ar[q] - wi * ai[q]);
    out[last - 2 * q] = scale * -(wr * ai[q] + wi * ar[q]);
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
