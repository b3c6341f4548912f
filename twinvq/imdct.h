// Inverse MDCT of one block, the middle half of the full output: for a block of n
// coefficients X, out[j] = scale · sum_k X[k] · cos(pi/n · (j + n + 1/2) · (k + 1/2)),
// j = 0..n-1 (n a power of two). Computed in single precision, as the format's decoders
// compute it, through a DCT-IV (twiddles rounded from double): within 1e-6 of the defining
// sum's largest value, and within 3e-7 of full scale of ffmpeg's decoder.
// Portable: no Windows code.
#pragma once

#include <cstdint>
#include <vector>

namespace twinvq {

// DCT-IV of size n (a power of two, >= 4): out[m] = sum_k in[k] · cos(pi/n · (m + 1/2)(k + 1/2)).
class Dct4 {
 public:
  void Init(int32_t n);
  int32_t size() const { return n_; }
  // in and out may be the same array. Each output is multiplied by scale (the product
  // rounded once more); reversed writes the outputs last to first.
  void Run(const float* in, float* out, float scale = 1.0f, bool reversed = false) const;

 private:
  int32_t n_ = 0;
  // The twiddles before and after the FFT, real and imaginary parts apart.
  std::vector<float> beforeRe_, beforeIm_, afterRe_, afterIm_;
  // The FFT's twiddles stage by stage, real and imaginary parts apart: the stage of span s
  // (1, 2, 4, ...) reads its s roots contiguously from index s - 1.
  std::vector<float> rootRe_, rootIm_;
  std::vector<int32_t> bitReversed_;
  // The twiddled inputs in their own order, then the FFT's values in bit-reversed order.
  mutable std::vector<float> twiddledRe_, twiddledIm_, workRe_, workIm_;
};

class HalfImdct {
 public:
  void Init(int32_t n, double scale);
  int32_t size() const { return dct_.size(); }
  void Run(const float* in, float* out) const;

 private:
  Dct4 dct_;
  double scale_ = 0;
};

}  // namespace twinvq
