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
// as real functions of w (e^{jw(order+1)/2} times their value on the unit circle), are
// sums of cos(f w) and sin(f w) over f = |i - degree/2|. With x = cos w each is a positive
// factor on (0, pi) (cos(w/2), sin(w/2), sin w or 1) times a Chebyshev series in x whose
// polynomials P_k obey P_{k+1} = 2x P_k - P_{k-1}:
//   cos((k + 1/2) w) = cos(w/2) V_k(x)   V_1 = 2x - 1   (odd degree, sum)
//   sin((k + 1/2) w) = sin(w/2) W_k(x)   W_1 = 2x + 1   (odd degree, difference)
//   cos(k w)         = T_k(x)            T_1 = x        (even degree, sum)
//   sin((k + 1) w)   = sin w U_k(x)      U_1 = 2x       (even degree, difference)
// The series has the sign of the function, which is all the root search needs.
struct ChebyshevSeries {
  double c[kMaxLpcOrder / 2 + 2];
  int32_t terms;
  double a1, b1;  // P_1 = a1 x + b1 (P_0 = 1)

  double At(double x) const {
    double v = c[0];
    if (terms == 1) return v;
    double previous = 1.0, current = a1 * x + b1;
    v += c[1] * current;
    for (int32_t k = 2; k < terms; ++k) {
      const double next = 2.0 * x * current - previous;
      previous = current;
      current = next;
      v += c[k] * current;
    }
    return v;
  }
};

// Series of the sum (p = s) or difference (p = d) polynomial of the given degree.
ChebyshevSeries SeriesOf(const double* p, int32_t degree, bool difference) {
  ChebyshevSeries series{};
  const int32_t m = degree / 2;
  if (degree % 2 == 1) {
    // f = k + 1/2 for i = m - k, k = 0..m; the pair (i, degree - i) doubles each term.
    series.terms = m + 1;
    for (int32_t k = 0; k <= m; ++k) series.c[k] = 2.0 * p[m - k];
    series.a1 = 2.0;
    series.b1 = difference ? 1.0 : -1.0;
  } else if (!difference) {
    // f = k for i = m - k: the middle term once, the others doubled.
    series.terms = m + 1;
    series.c[0] = p[m];
    for (int32_t k = 1; k <= m; ++k) series.c[k] = 2.0 * p[m - k];
    series.a1 = 1.0;
    series.b1 = 0.0;
  } else {
    // sin(f w) with f = k + 1 for i = m - 1 - k (the middle coefficient is zero).
    series.terms = std::max<int32_t>(m, 1);
    series.c[0] = 0.0;
    for (int32_t k = 0; k < m; ++k) series.c[k] = 2.0 * p[m - 1 - k];
    series.a1 = 2.0;
    series.b1 = 0.0;
  }
  return series;
}

}  // namespace

std::vector<double> BinCosines(int32_t bins) {
  std::vector<double> c(std::max<int32_t>(bins, 0));
  for (int32_t k = 0; k < bins; ++k) c[k] = std::cos((k + 0.5) * kPi / bins);
  return c;
}

void AutocorrelationFromPower(const double* power, const double* binCosines, int32_t bins,
                              int32_t order, double* r) {
  // cos(m w) by the recurrence cos(m w) = 2 cos w cos((m-1) w) - cos((m-2) w).
  for (int32_t m = 0; m <= order; ++m) r[m] = 0.0;
  for (int32_t k = 0; k < bins; ++k) {
    const double c = binCosines[k];
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

void AutocorrelationFromPower(const double* power, int32_t bins, int32_t order, double* r) {
  const std::vector<double> c = BinCosines(bins);
  AutocorrelationFromPower(power, c.data(), bins, order, r);
}

int32_t CosineRowStride(int32_t order) { return (order + 2) / 2 * 2; }

std::vector<double> BinCosineRows(const double* binCosines, int32_t bins, int32_t order) {
  const int32_t stride = CosineRowStride(order);
  std::vector<double> rows(size_t(std::max<int32_t>(bins, 0)) * stride, 0.0);
  for (int32_t k = 0; k < bins; ++k) {
    double* row = rows.data() + size_t(k) * stride;
    const double c = binCosines[k];
    double previous = 1.0, current = c;
    row[0] = 1.0;
    for (int32_t m = 1; m <= order; ++m) {
      row[m] = current;
      const double next = 2.0 * c * current - previous;
      previous = current;
      current = next;
    }
  }
  return rows;
}

void AutocorrelationFromRows(const double* power, const double* rows, int32_t bins,
                             int32_t order, double* r) {
  // power[k] * 1 is power[k]: r[0] is the plain sum, as with the recurrence.
  const int32_t stride = CosineRowStride(order);
  double sum[kMaxLpcOrder + 2] = {0.0};
  for (int32_t k = 0; k < bins; ++k) {
    const double p = power[k];
    const double* row = rows + size_t(k) * stride;
    for (int32_t m = 0; m < stride; ++m) sum[m] += p * row[m];
  }
  for (int32_t m = 0; m <= order; ++m) r[m] = sum[m] / bins;
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
  return LsfFinder(order).Find(a, lsf);
}

LsfFinder::LsfFinder(int32_t order) : order_(order) {
  const int32_t steps = 64 * std::max<int32_t>(order, 1);
  gridCos_.resize(steps + 1);
  for (int32_t step = 0; step <= steps; ++step) gridCos_[step] = std::cos(kPi * step / steps);
}

bool LsfFinder::Find(const double* a, double* lsf) const {
  const int32_t order = order_, degree = order + 1;
  double s[kMaxLpcOrder + 2], d[kMaxLpcOrder + 2];
  for (int32_t i = 0; i <= degree; ++i) {
    const double forward = i <= order ? a[i] : 0.0;
    const double backward = i >= 1 ? a[degree - i] : 0.0;
    s[i] = forward + backward;
    d[i] = forward - backward;
  }
  const ChebyshevSeries sum = SeriesOf(s, degree, false), difference = SeriesOf(d, degree, true);
  // Scan the grid for sign changes of both functions; their roots interlace, the sum's
  // first. x = cos w falls as w rises, so a bracket in w is one in x.
  const int32_t steps = 64 * order;
  int32_t found = 0;
  double previousX = 1.0;
  double prevS = sum.At(std::cos(1.0e-9)), prevD = difference.At(std::cos(1.0e-6));
  for (int32_t step = 1; step < steps && found < order; ++step) {
    const double x = gridCos_[step];
    const bool sumTurn = (found % 2) == 0;
    const ChebyshevSeries& f = sumTurn ? sum : difference;
    const double value = f.At(x);
    const double previous = sumTurn ? prevS : prevD;
    if ((value <= 0.0) != (previous <= 0.0)) {
      double lo = previousX, hi = x, vlo = previous;
      for (int32_t it = 0; it < 40; ++it) {
        const double mid = 0.5 * (lo + hi);
        const double vm = f.At(mid);
        if ((vm <= 0.0) == (vlo <= 0.0)) {
          lo = mid;
          vlo = vm;
        } else {
          hi = mid;
        }
      }
      const double root = 0.5 * (lo + hi);
      lsf[found++] = std::acos(root);
      // Continue the scan from the root just found for the other polynomial.
      if (sumTurn) {
        prevD = difference.At(root);
      } else {
        prevS = sum.At(root);
      }
      previousX = root;
      --step;  // look at the same grid step again for the other polynomial
      continue;
    }
    if (sumTurn) prevS = value; else prevD = value;
    previousX = x;
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
