// MDCT through a DCT-IV of size M, computed with a complex FFT of M/2 points.
#include "mdct.h"

#include <cmath>

namespace tvqenc {

namespace {
constexpr double kPi = 3.14159265358979323846;

// The plain product. The operator of std::complex checks every result for NaN and calls the
// runtime to redo it by the C99 rules; our inputs are finite and the sums come out the same.
inline std::complex<double> Times(std::complex<double> a, std::complex<double> b) {
  return {a.real() * b.real() - a.imag() * b.imag(), a.real() * b.imag() + a.imag() * b.real()};
}
}  // namespace

Mdct::Mdct(int32_t size) : size_(size) {
  const int32_t half = size / 2;
  twiddle_.resize(half);
  post_.resize(half);
  for (int32_t n = 0; n < half; ++n) {
    twiddle_[n] = std::polar(1.0, -kPi * (4.0 * n + 1.0) / (4.0 * size));
    post_[n] = std::polar(1.0, -kPi * n / size);
  }
  roots_.resize(half / 2 > 0 ? half / 2 : 1);
  for (int32_t k = 0; k < half / 2; ++k) roots_[k] = std::polar(1.0, -2.0 * kPi * k / half);
  bitReverse_.resize(half);
  int32_t bits = 0;
  while ((1 << bits) < half) ++bits;
  for (int32_t i = 0; i < half; ++i) {
    int32_t r = 0;
    for (int32_t b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
    bitReverse_[i] = r;
  }
  folded_.resize(size);
  work_.resize(half);
}

void Mdct::Fft(std::complex<double>* data) const {
  const int32_t n = size_ / 2;
  for (int32_t i = 0; i < n; ++i) {
    if (i < bitReverse_[i]) std::swap(data[i], data[bitReverse_[i]]);
  }
  for (int32_t len = 2; len <= n; len <<= 1) {
    const int32_t stride = n / len;
    for (int32_t start = 0; start < n; start += len) {
      for (int32_t k = 0; k < len / 2; ++k) {
        const std::complex<double> t = Times(roots_[k * stride], data[start + k + len / 2]);
        data[start + k + len / 2] = data[start + k] - t;
        data[start + k] += t;
      }
    }
  }
}

void Mdct::Forward(const float* in, float* out) {
  const int32_t m = size_, q = m / 2;
  // Fold the quarters (a, b, c, d) into the DCT-IV input (-c' - d, a - b'), ' = reversed.
  for (int32_t n = 0; n < q; ++n) {
    folded_[n] = -static_cast<double>(in[3 * q - 1 - n]) - in[3 * q + n];
    folded_[q + n] = static_cast<double>(in[n]) - in[m - 1 - n];
  }
  for (int32_t n = 0; n < q; ++n) {
    work_[n] = Times(std::complex<double>(folded_[2 * n], folded_[m - 1 - 2 * n]), twiddle_[n]);
  }
  Fft(work_.data());
  const double scale = std::sqrt(2.0 / m);
  for (int32_t k = 0; k < q; ++k) {
    const std::complex<double> c = Times(work_[k], post_[k]);
    out[2 * k] = static_cast<float>(scale * c.real());
    out[m - 1 - 2 * k] = static_cast<float>(-scale * c.imag());
  }
}

double SineSlope(int32_t i, int32_t w) { return std::sin((i + 0.5) * kPi / (2.0 * w)); }

void BuildBlockWindow(int32_t m, int32_t left, int32_t right, float* window) {
  for (int32_t n = 0; n < 2 * m; ++n) window[n] = 0.0f;
  const int32_t leftStart = m / 2 - left / 2;
  for (int32_t i = 0; i < left; ++i) window[leftStart + i] = static_cast<float>(SineSlope(i, left));
  for (int32_t n = leftStart + left; n < 3 * m / 2 - right / 2; ++n) window[n] = 1.0f;
  const int32_t rightStart = 3 * m / 2 - right / 2;
  for (int32_t i = 0; i < right; ++i) {
    window[rightStart + i] = static_cast<float>(SineSlope(right - 1 - i, right));
  }
}

}  // namespace tvqenc
