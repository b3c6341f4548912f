// Natural logarithm for the encoder's scoring loops. The Windows runtime's log works in the
// x87 unit and is several times slower than the rest of a frame's arithmetic needs, and the
// envelope scores take thousands of logarithms per frame. Exponent and mantissa apart, the
// mantissa's log by the series of 2 atanh(s), s = (m - 1) / (m + 1): with m in
// [sqrt(1/2), sqrt(2)), |s| < 0.172 and nine terms leave a relative error near 1e-15.
#pragma once

#include <cmath>

namespace tvqenc {

inline double NaturalLog(double x) {
  if (!(x > 0.0) || !std::isfinite(x)) return std::log(x);  // 0, negatives, NaN, infinity
  int exponent = 0;
  double m = std::frexp(x, &exponent);  // x = m 2^exponent, m in [0.5, 1)
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

}  // namespace tvqenc
