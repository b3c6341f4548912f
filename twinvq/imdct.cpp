// DCT-IV through a complex FFT of half the size: even inputs as real parts, odd inputs in
// reverse as imaginary parts, a twiddle before and after; the even outputs are the real
// parts, the odd outputs (from the top) the negated imaginary parts.
#include "imdct.h"

#include <cmath>

namespace twinvq {
namespace {
constexpr double kPi = 3.14159265358979323846;
}

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
  stageRoots_.assign(half > 1 ? half - 1 : 1, 1.0f);
  for (int32_t span = 1; span < half; span *= 2)
    for (int32_t i = 0; i < span; ++i) stageRoots_[span - 1 + i] = std::complex<float>(roots[i * (half / (2 * span))]);
  int32_t bits = 0;
  while ((1 << bits) < half) ++bits;
  bitReversed_.resize(half);
  for (int32_t i = 0; i < half; ++i) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    bitReversed_[i] = r;
  }
  work_.resize(half);
}

// Complex values as (re, im) pairs of floats, multiplied by hand: the same products and
// sums as std::complex's, without its checks for NaN (which cost most of the time here).
void Dct4::Run(const float* in, float* out) const {
  const int32_t half = n_ / 2;
  float* w = reinterpret_cast<float*>(work_.data());
  const float* before = reinterpret_cast<const float*>(before_.data());
  const float* after = reinterpret_cast<const float*>(after_.data());
  const float* stageRoots = reinterpret_cast<const float*>(stageRoots_.data());
  for (int32_t p = 0; p < half; ++p) {
    const float re = in[2 * p], im = in[n_ - 1 - 2 * p];
    const float br = before[2 * p], bi = before[2 * p + 1];
    float* to = w + 2 * bitReversed_[p];
    to[0] = re * br - im * bi;
    to[1] = re * bi + im * br;
  }
  // Radix-2 decimation in time.
  for (int32_t span = 1; span < half; span *= 2) {
    const float* roots = stageRoots + 2 * (span - 1);
    for (int32_t start = 0; start < half; start += 2 * span) {
      float* low = w + 2 * start;
      float* high = w + 2 * (start + span);
      for (int32_t i = 0; i < span; ++i) {
        const float rr = roots[2 * i], ri = roots[2 * i + 1];
        const float hr = high[2 * i], hi = high[2 * i + 1];
        const float oddRe = hr * rr - hi * ri, oddIm = hr * ri + hi * rr;
        const float lr = low[2 * i], li = low[2 * i + 1];
        high[2 * i] = lr - oddRe;
        high[2 * i + 1] = li - oddIm;
        low[2 * i] = lr + oddRe;
        low[2 * i + 1] = li + oddIm;
      }
    }
  }
  for (int32_t q = 0; q < half; ++q) {
    const float wr = w[2 * q], wi = w[2 * q + 1];
    const float ar = after[2 * q], ai = after[2 * q + 1];
    out[2 * q] = wr * ar - wi * ai;
    out[n_ - 1 - 2 * q] = -(wr * ai + wi * ar);
  }
}

void HalfImdct::Init(int32_t n, double scale) {
  dct_.Init(n);
  scale_ = scale;
  buffer_.resize(n);
}

void HalfImdct::Run(const float* in, float* out) const {
  // The half output is the DCT-IV read backwards and negated.
  const int32_t n = dct_.size();
  dct_.Run(in, buffer_.data());
  const float scale = static_cast<float>(-scale_);
  for (int32_t j = 0; j < n; ++j) out[j] = scale * buffer_[n - 1 - j];
}

}  // namespace twinvq
