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
    before_[p] = std::polar(1.0, -kPi * p / n);
    after_[p] = std::polar(1.0, -kPi * (p + 0.25) / n);
  }
  roots_.resize(half / 2 > 0 ? half / 2 : 1);
  for (int32_t i = 0; i < half / 2; ++i) roots_[i] = std::polar(1.0, -2 * kPi * i / half);
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

void Dct4::Run(const double* in, double* out) const {
  const int32_t half = n_ / 2;
  for (int32_t p = 0; p < half; ++p) {
    work_[bitReversed_[p]] = std::complex<double>(in[2 * p], in[n_ - 1 - 2 * p]) * before_[p];
  }
  // Radix-2 decimation in time.
  for (int32_t span = 1; span < half; span *= 2) {
    const int32_t stride = half / (2 * span);
    for (int32_t start = 0; start < half; start += 2 * span) {
      for (int32_t i = 0; i < span; ++i) {
        const std::complex<double> odd = work_[start + span + i] * roots_[i * stride];
        work_[start + span + i] = work_[start + i] - odd;
        work_[start + i] += odd;
      }
    }
  }
  for (int32_t q = 0; q < half; ++q) {
    const std::complex<double> f = work_[q] * after_[q];
    out[2 * q] = f.real();
    out[n_ - 1 - 2 * q] = -f.imag();
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
  for (int32_t k = 0; k < n; ++k) buffer_[k] = in[k];
  dct_.Run(buffer_.data(), buffer_.data());
  for (int32_t j = 0; j < n; ++j) out[j] = static_cast<float>(-scale_ * buffer_[n - 1 - j]);
}

}  // namespace twinvq
