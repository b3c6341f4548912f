// Logarithm, power of two and power for the encoder's per-frame loops. The Windows runtime's
// log, pow and frexp work in the x87 unit and are several times slower than the rest of a
// frame's arithmetic needs (the envelope scores take thousands of logarithms per frame, the
// masking model two powers per bin), and they differ from one runtime to another; these
// give the same values in every build.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

namespace tvqenc {

// x = m 2^exponent with m in [0.5, 1), for positive finite x; subnormals by the runtime.
inline double SplitExponent(double x, int* exponent) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (biased == 0) return std::frexp(x, exponent);
  *exponent = biased - 1022;
  bits = (bits & ~(uint64_t(0x7ff) << 52)) | (uint64_t(1022) << 52);
  double m;
  std::memcpy(&m, &bits, sizeof m);
  return m;
}

// Natural logarithm. Exponent and mantissa apart, the mantissa's log by the series of
// 2 atanh(s), s = (m - 1) / (m + 1): with m in [sqrt(1/2), sqrt(2)), |s| < 0.172 and nine
// terms leave a relative error near 1e-15.
inline double NaturalLog(double x) {
  if (!(x > 0.0) || !std::isfinite(x)) return std::log(x);  // 0, negatives, NaN, infinity
  int exponent = 0;
  double m = SplitExponent(x, &exponent);
  if (m < 0.70710678118654752440) {
    m *= 2.0;
    --exponent;
  }
  const double s = (m - 1.0) / (m + 1.0), s2 = s * s;
  const double series =
      1.0 + s2 * (1.0 / 3 + s2 * (1.0 / 5 + s2 * (1.0 / 7 + s2 * (1.0 / 9 + s2 * (1.0 / 11 +
      s2 * (1.0 / 13 + s2 * (1.0 / 15 + s2 * (1.0 / 17))))))));
  return exponent * 0.69314718055994530942 + 2.0 * s * series;
}

// 2^y: the nearest whole power set in the exponent bits, the rest, e^z with |z| <= ln2 / 2,
// by its series to z^13 (relative error near 1e-15). Below 2^-1022 it gives 0.
inline double PowerOfTwo(double y) {
  if (!(y == y)) return y;
  if (y >= 1024.0) return HUGE_VAL;
  if (y < -1022.0) return 0.0;
  if (y >= 1023.5) return 2.0 * PowerOfTwo(y - 1.0);  // 2^1024 has no exponent bits of its own
  // Rounded through a positive value: a 32-bit truncation (no runtime call in a 32-bit build).
  const int32_t whole = static_cast<int32_t>(y + 1022.5) - 1022;
  const double z = (y - whole) * 0.69314718055994530942;
  static constexpr double kInverse[14] = {0.0,      1.0,      1.0 / 2,  1.0 / 3,  1.0 / 4,
                                          1.0 / 5,  1.0 / 6,  1.0 / 7,  1.0 / 8,  1.0 / 9,
                                          1.0 / 10, 1.0 / 11, 1.0 / 12, 1.0 / 13};
  double series = 1.0;
  for (int k = 13; k >= 1; --k) series = 1.0 + series * (z * kInverse[k]);
  const uint64_t bits = uint64_t(whole + 1023) << 52;
  double scale;
  std::memcpy(&scale, &bits, sizeof scale);
  return series * scale;
}

// x^p for positive x; zero, negatives and non-finite values by the runtime.
inline double Power(double x, double p) {
  if (!(x > 0.0) || !std::isfinite(x) || !std::isfinite(p)) return std::pow(x, p);
  return PowerOfTwo(p * 1.44269504088896340736 * NaturalLog(x));
}

// out[i] = Power(x[i], p), the very same values; four at a time where the processor has
// AVX2 (power_of_each.cpp). out may be x.
void PowerOfEach(const double* x, double p, double* out, int32_t count);
// out[i] = NaturalLog(x[i]), the same way.
void LogOfEach(const double* x, double* out, int32_t count);

}  // namespace tvqenc
