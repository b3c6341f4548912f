// Linear prediction of a spectral envelope and its line spectral frequencies.
//
// The decoder's envelope at frequency w is 0.5 / (P(w) + Q(w)) with
//   P(w) = 4 cos^2(w/2) prod_{even i} (2cos w_i - 2cos w)^2,
//   Q(w) = 4 sin^2(w/2) prod_{odd i}  (2cos w_i - 2cos w)^2,
// w_0 < w_1 < ... the LSFs: 1/(8 |A(e^jw)|^2) for the predictor A whose LSFs they are.
#pragma once

#include <cstdint>
#include <vector>

namespace tvqenc {

constexpr int32_t kMaxLpcOrder = 20;

// cos((k + 1/2) pi / bins) for k = 0..bins-1: the cosines of the bins' centre frequencies.
std::vector<double> BinCosines(int32_t bins);

// Autocorrelation r[0..order] of a power spectrum given on bins k = 0..bins-1 at
// frequencies (k + 1/2) pi / bins; binCosines as BinCosines(bins) gives them.
void AutocorrelationFromPower(const double* power, const double* binCosines, int32_t bins,
                              int32_t order, double* r);
void AutocorrelationFromPower(const double* power, int32_t bins, int32_t order, double* r);

// The same sums from the cosines of every multiple m = 0..order of each bin's frequency,
// made once by the recurrence AutocorrelationFromPower runs (so both give the very same r):
// row k at k * CosineRowStride(order). Each r[m] is then summed over the bins in order, all
// m at once.
int32_t CosineRowStride(int32_t order);
std::vector<double> BinCosineRows(const double* binCosines, int32_t bins, int32_t order);
void AutocorrelationFromRows(const double* power, const double* rows, int32_t bins,
                             int32_t order, double* r);

// Levinson-Durbin: predictor a[0..order] (a[0] = 1) of A(z) = sum a_i z^-i from r, after
// a Gaussian lag window and a small white-noise floor; then bandwidth expansion by gamma.
// False if r[0] is not positive (silence); a is then the flat predictor.
bool LpcFromAutocorrelation(const double* r, int32_t order, double lagWindowWidth,
                            double gamma, double* a);

// The LSFs (radians, ascending, in (0, pi)) of A; false if not all were found (a is then
// not minimum phase), in which case lsf holds evenly spaced values.
bool LpcToLsf(const double* a, int32_t order, double* lsf);

// The same search for one order with the cosines of its scan grid computed once. The roots
// are sought in x = cos w, where both polynomials are Chebyshev series (no trigonometry per
// term), bracketed on the grid w = pi step / (64 order) and bisected 40 times.
class LsfFinder {
 public:
  explicit LsfFinder(int32_t order);
  bool Find(const double* a, double* lsf) const;
  int32_t order() const { return order_; }

 private:
  int32_t order_;
  std::vector<double> gridCos_;  // cos(pi step / steps), step = 0..steps
};

// The decoder's envelope value 0.5 / (P + Q) at frequency w for the given LSFs.
double LsfEnvelope(const double* lsf, int32_t order, double w);
// The same from 2cos of each LSF and 2cos w.
double LsfEnvelopeFromCosines(const double* twoCos, int32_t order, double twoCosW);

}  // namespace tvqenc
