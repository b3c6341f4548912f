// LPC analysis and the LSF root search.
#include "lpc.h"

#include <algorithm>
#include <cmath>

namespace tvqenc {

namespace {

constexpr double kPi = 3.14159265358979323846;

void EvenlySpaced(int32_t order, double* lsf) {
  for (int32_t i = 0; i < order; ++i) lsf[i] = kPi * (i + 1) / (order + 1);
}

// The sum (symmetric) and difference (antisymmetric) polynomials of A, degree order + 1,
// as real functions of w: e^{jw(order+1)/2} times their value on the unit circle.
double SumPolynomial(const double* s, int32_t degree, double w) {
  double v = 0.0;
  for (int32_t i = 0; i <= degree; ++i) v += s[i] * std::cos((i - degree * 0.5) * w);
  return v;
}
double DifferencePolynomial(const double* d, int32_t degree, double w) {
  double v = 0.0;
  for (int32_t i = 0; i <= degree; ++i) v += d[i] * std::sin((degree * 0.5 - i) * w);
  return v;
}

}  // namespace

void AutocorrelationFromPower(const double* power, int32_t bins, int32_t order, double* r) {
  // cos(m w) by the recurrence cos(m w) = 2 cos w cos((m-1) w) - cos((m-2) w).
  for (int32_t m = 0; m <= order; ++m) r[m] = 0.0;
  for (int32_t k = 0; k < bins; ++k) {
    const double c = std::cos((k + 0.5) * kPi / bins);
    double previous = 1.0, current = c;
    r[0] += power[k];
    for (int32_t m = 1; m <= order; ++m) {
      r[m] += power[k] * current;
      const double next = 2.0 * c * current - previous;
      previous = current;
      current = next;
    }
  }
  for (int32_t m = 0; m <= order; ++m) r[m] /= bins;
}

bool LpcFromAutocorrelation(const double* rIn, int32_t order, double lagWindowWidth,
                            double gamma, double* a) {
  for (int32_t i = 0; i <= order; ++i) a[i] = i == 0 ? 1.0 : 0.0;
  if (!(rIn[0] > 0.0) || !std::isfinite(rIn[0])) return false;
  double r[kMaxLpcOrder + 1] = {0.0};
  for (int32_t i = 0; i <= order; ++i) {
    const double x = i * lagWindowWidth;
    r[i] = rIn[i] * std::exp(-0.5 * x * x);
  }
  r[0] *= 1.0 + 1.0e-4;
  double error = r[0];
  double tmp[kMaxLpcOrder + 1];
  for (int32_t i = 1; i <= order; ++i) {
    double acc = r[i];
    for (int32_t j = 1; j < i; ++j) acc += a[j] * r[i - j];
    const double k = -acc / error;
    for (int32_t j = 1; j < i; ++j) tmp[j] = a[j] + k * a[i - j];
    for (int32_t j = 1; j < i; ++j) a[j] = tmp[j];
    a[i] = k;
    error *= 1.0 - k * k;
    if (!(error > 0.0)) break;
  }
  double g = gamma;
  for (int32_t i = 1; i <= order; ++i, g *= gamma) a[i] *= g;
  return true;
}

bool LpcToLsf(const double* a, int32_t order, double* lsf) {
  const int32_t degree = order + 1;
  double s[kMaxLpcOrder + 2], d[kMaxLpcOrder + 2];
  for (int32_t i = 0; i <= degree; ++i) {
    const double forward = i <= order ? a[i] : 0.0;
    const double backward = i >= 1 ? a[degree - i] : 0.0;
    s[i] = forward + backward;
    d[i] = forward - backward;
  }
  // Scan a grid for sign changes of both functions; their roots interlace, the sum's first.
  const int32_t steps = 64 * order;
  int32_t found = 0;
  double previousW = 0.0;
  double prevS = SumPolynomial(s, degree, 1.0e-9), prevD = DifferencePolynomial(d, degree, 1.0e-6);
  for (int32_t step = 1; step < steps && found < order; ++step) {
    const double w = kPi * step / steps;
    const bool sumTurn = (found % 2) == 0;
    const double value = sumTurn ? SumPolynomial(s, degree, w) : DifferencePolynomial(d, degree, w);
    const double previous = sumTurn ? prevS : prevD;
    if ((value <= 0.0) != (previous <= 0.0)) {
      double lo = previousW, hi = w, vlo = previous;
      for (int32_t it = 0; it < 40; ++it) {
        const double mid = 0.5 * (lo + hi);
        const double vm = sumTurn ? SumPolynomial(s, degree, mid) : DifferencePolynomial(d, degree, mid);
        if ((vm <= 0.0) == (vlo <= 0.0)) {
          lo = mid;
          vlo = vm;
        } else {
          hi = mid;
        }
      }
      lsf[found++] = 0.5 * (lo + hi);
      // Continue the scan from the root just found for the other polynomial.
      if (sumTurn) {
        prevD = DifferencePolynomial(d, degree, lsf[found - 1]);
      } else {
        prevS = SumPolynomial(s, degree, lsf[found - 1]);
      }
      previousW = lsf[found - 1];
      --step;  // look at the same grid step again for the other polynomial
      continue;
    }
    if (sumTurn) prevS = value; else prevD = value;
    previousW = w;
  }
  if (found < order) {
    EvenlySpaced(order, lsf);
    return false;
  }
  return true;
}

double LsfEnvelope(const double* lsf, int32_t order, double w) {
  double twoCos[kMaxLpcOrder];
  for (int32_t i = 0; i < order; ++i) twoCos[i] = 2.0 * std::cos(lsf[i]);
  return LsfEnvelopeFromCosines(twoCos, order, 2.0 * std::cos(w));
}

double LsfEnvelopeFromCosines(const double* twoCos, int32_t order, double c) {
  double p = 0.5, q = 0.5;
  for (int32_t i = 0; i < order; ++i) {
    const double f = twoCos[i] - c;
    if (i % 2 == 0) q *= f; else p *= f;
  }
  p *= p * (2.0 - c);
  q *= q * (2.0 + c);
  return 0.5 / (p + q);
}

}  // namespace tvqenc
