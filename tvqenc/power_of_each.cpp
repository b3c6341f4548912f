// Power and NaturalLog over arrays, four values at a time with AVX2: the masking model takes
// two powers per bin of every sub-block, the bark search a logarithm per codebook value.
// Each lane makes the scalar function's double operations in its order (the file has no
// fused multiply-adds), and a lane outside its plain case (zero, negative, subnormal or
// non-finite x, a result out of the exponent's range) takes the scalar function, so both
// give the very same values.
#include "log_exp.h"

#include "processor_features.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define TVQENC_POWER_AVX2 1
#else
#define TVQENC_POWER_AVX2 0
#endif

namespace tvqenc {

namespace {

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kLog2E = 1.44269504088896340736;

#if TVQENC_POWER_AVX2
// NaturalLog of four values, with the lanes it serves (positive, normal and finite) set in
// *plain; the others' results are to be replaced.
__attribute__((target("avx2"))) inline __m256d Avx2Log(__m256d v, __m256d* plain) {
  const __m256d one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0);
  const __m256i exponentMask = _mm256_set1_epi64x(0x7ff);
  const __m256i unitExponent = _mm256_set1_epi64x(int64_t(1022) << 52);
  const __m256i mantissaMask = _mm256_set1_epi64x(~(int64_t(0x7ff) << 52));
  const __m256i magic = _mm256_set1_epi64x(int64_t(0x433) << 52);  // 2^52: its low bits an integer
  const __m256d magicValue = _mm256_set1_pd(4503599627370496.0);
  const __m256i bits = _mm256_castpd_si256(v);
  const __m256i biased = _mm256_and_si256(_mm256_srli_epi64(bits, 52), exponentMask);
  *plain = _mm256_and_pd(
      _mm256_cmp_pd(v, _mm256_setzero_pd(), _CMP_GT_OQ),
      _mm256_castsi256_pd(_mm256_andnot_si256(
          _mm256_or_si256(_mm256_cmpeq_epi64(biased, _mm256_setzero_si256()),
                          _mm256_cmpeq_epi64(biased, exponentMask)),
          _mm256_set1_epi64x(-1))));
  // m in [0.5, 1) and its exponent, m moved to [sqrt(1/2), sqrt(2)).
  __m256d m = _mm256_castsi256_pd(_mm256_or_si256(_mm256_and_si256(bits, mantissaMask), unitExponent));
  __m256d exponent = _mm256_sub_pd(
      _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(biased, magic)), magicValue),
      _mm256_set1_pd(1022.0));
  const __m256d low = _mm256_cmp_pd(m, _mm256_set1_pd(0.70710678118654752440), _CMP_LT_OQ);
  m = _mm256_blendv_pd(m, _mm256_mul_pd(m, two), low);
  exponent = _mm256_blendv_pd(exponent, _mm256_sub_pd(exponent, one), low);
  const __m256d s = _mm256_div_pd(_mm256_sub_pd(m, one), _mm256_add_pd(m, one));
  const __m256d s2 = _mm256_mul_pd(s, s);
  __m256d series = _mm256_mul_pd(s2, _mm256_set1_pd(1.0 / 17));
  series = _mm256_mul_pd(s2, _mm256_add_pd(_mm256_set1_pd(1.0 / 15), series));
  series = _mm256_mul_pd(s2, _mm256_add_pd(_mm256_set1_pd(1.0 / 13), series));
  series = _mm256_mul_pd(s2, _mm256_add_pd(_mm256_set1_pd(1.0 / 11), series));
  series = _mm256_mul_pd(s2, _mm256_add_pd(_mm256_set1_pd(1.0 / 9), series));
  series = _mm256_mul_pd(s2, _mm256_add_pd(_mm256_set1_pd(1.0 / 7), series));
  series = _mm256_mul_pd(s2, _mm256_add_pd(_mm256_set1_pd(1.0 / 5), series));
  series = _mm256_mul_pd(s2, _mm256_add_pd(_mm256_set1_pd(1.0 / 3), series));
  series = _mm256_add_pd(one, series);
  return _mm256_add_pd(_mm256_mul_pd(exponent, _mm256_set1_pd(kLn2)),
                       _mm256_mul_pd(_mm256_mul_pd(two, s), series));
}

// Stores four results, and for each lane outside the vector path (a clear bit of served) the
// scalar function of its input instead. out may hold the inputs: they are kept first.
template <typename Scalar>
__attribute__((target("avx2"))) inline void StoreServed(__m256d in, __m256d result, int32_t served,
                                                        double* out, Scalar scalar) {
  if (served == 0xf) return _mm256_storeu_pd(out, result);
  double kept[4];
  _mm256_storeu_pd(kept, in);
  _mm256_storeu_pd(out, result);
  for (int32_t l = 0; l < 4; ++l) {
    if (!(served & (1 << l))) out[l] = scalar(kept[l]);
  }
}

__attribute__((target("avx2"))) void Avx2Logs(const double* x, double* out, int32_t count) {
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256d v = _mm256_loadu_pd(x + i);
    __m256d plain;
    const __m256d log = Avx2Log(v, &plain);
    StoreServed(v, log, _mm256_movemask_pd(plain), out + i, [](double value) { return NaturalLog(value); });
  }
  for (; i < count; ++i) out[i] = NaturalLog(x[i]);
}

__attribute__((target("avx2"))) void Avx2Powers(const double* x, double p, double* out,
                                                int32_t count) {
  const __m256d one = _mm256_set1_pd(1.0);
  const __m256d ln2 = _mm256_set1_pd(kLn2), py = _mm256_set1_pd(p * kLog2E);
  int32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m256d v = _mm256_loadu_pd(x + i);
    __m256d plain;
    const __m256d log = Avx2Log(v, &plain);
    // PowerOfTwo of y = p log2(e) ln x, for y in [-1022, 1023.5).
    const __m256d y = _mm256_mul_pd(py, log);
    plain = _mm256_and_pd(plain, _mm256_and_pd(_mm256_cmp_pd(y, _mm256_set1_pd(-1022.0), _CMP_GE_OQ),
                                               _mm256_cmp_pd(y, _mm256_set1_pd(1023.5), _CMP_LT_OQ)));
    const __m256d shifted = _mm256_blendv_pd(_mm256_set1_pd(1022.5), _mm256_add_pd(y, _mm256_set1_pd(1022.5)), plain);
    const __m128i rounded = _mm256_cvttpd_epi32(shifted);  // y + 1022.5 > 0: truncation
    const __m256d whole = _mm256_sub_pd(_mm256_cvtepi32_pd(rounded), _mm256_set1_pd(1022.0));
    const __m256d z = _mm256_mul_pd(_mm256_sub_pd(y, whole), ln2);
    __m256d e = one;
    for (int32_t k = 13; k >= 1; --k) {
      e = _mm256_add_pd(one, _mm256_mul_pd(e, _mm256_mul_pd(z, _mm256_set1_pd(1.0 / k))));
    }
    const __m256i scaleBits = _mm256_slli_epi64(
        _mm256_cvtepi32_epi64(_mm_add_epi32(rounded, _mm_set1_epi32(1))), 52);
    StoreServed(v, _mm256_mul_pd(e, _mm256_castsi256_pd(scaleBits)), _mm256_movemask_pd(plain),
                out + i, [p](double value) { return Power(value, p); });
  }
  for (; i < count; ++i) out[i] = Power(x[i], p);
}

const bool kHasAvx2 = twinvq::ProcessorHasAvx2();
#endif

}  // namespace

void LogOfEach(const double* x, double* out, int32_t count) {
#if TVQENC_POWER_AVX2
  if (kHasAvx2) return Avx2Logs(x, out, count);
#endif
  for (int32_t i = 0; i < count; ++i) out[i] = NaturalLog(x[i]);
}

void PowerOfEach(const double* x, double p, double* out, int32_t count) {
#if TVQENC_POWER_AVX2
  if (kHasAvx2 && std::isfinite(p)) return Avx2Powers(x, p, out, count);
#endif
  for (int32_t i = 0; i < count; ++i) out[i] = Power(x[i], p);
}

}  // namespace tvqenc
