// Forward MDCT for the encoder: the transform whose inverse the TwinVQ decoder applies.
// A block of size M (bs) takes 2M windowed input samples and gives M coefficients
//   X[k] = sqrt(2/M) * sum_n x[n] cos(pi/M (n + 1/2 + M/2)(k + 1/2)),
// the orthonormal MDCT with the decoder's phase. The decoder's inverse carries the factor
// sqrt(norm/M)/2^15 (norm 2 mono, 1 stereo), so the encoder codes Forward(samples in 16-bit
// units) (mono) and the same of (L +- R)/sqrt(2) (stereo). Portable, no allocation after
// construction.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

namespace tvqenc {

class Mdct {
 public:
  explicit Mdct(int32_t size);  // M: a power of two, at least 4

  int32_t Size() const { return size_; }
  // in: 2M samples (already windowed); out: M coefficients.
  void Forward(const float* in, float* out);

 private:
  void Fft(std::complex<double>* data) const;  // size_/2 points, in place

  int32_t size_;
  std::vector<std::complex<double>> twiddle_;   // rotation before the FFT, M/2 values
  std::vector<std::complex<double>> post_;      // rotation after it
  std::vector<std::complex<double>> roots_;     // FFT roots, M/4 values
  std::vector<int32_t> bitReverse_;
  std::vector<double> folded_;
  std::vector<std::complex<double>> work_;
};

// The sine slope of an overlap of w samples: value i of the rising half,
// sin((i + 1/2) pi / (2w)), the decoder's window.
double SineSlope(int32_t i, int32_t w);

// Analysis window of a block of size M (2M samples) whose overlap with the block before is
// left samples and with the block after right samples, both centred on the block's edges
// at M/2 and 3M/2: zero outside the overlaps' reach, one between them.
void BuildBlockWindow(int32_t m, int32_t left, int32_t right, float* window);

}  // namespace tvqenc
