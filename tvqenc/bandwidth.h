// The coded bandwidth: what a mode's bits can afford to code, and the low-pass that keeps
// the encoder from spending them above it. Portable: no Windows code.
#pragma once

#include <cstdint>
#include <vector>

namespace tvqenc {

// The highest frequency (Hz) a rate mode codes, as encoders for other formats choose by
// bit rate per channel: the frame's bits spread over fewer coefficients code them better.
double CodedBandwidthHz(int32_t kHzCode, int32_t kbpsPerChannel);

// A zero-phase low-pass in the transform domain: the coefficients of a block are multiplied
// by a real gain (1 below the coded bandwidth, a raised-cosine slope, 0 above). A block is
// cut only where what lies above carries under kKeptShare of its energy: a noisy tail (a
// hat's hiss, the top of a click's white spectrum, a fifth of its power at 44.1 kHz) goes,
// a tone or a sweep up there is kept, since then it is the sound itself. PEAQ DI at 44/48
// stereo, band and transients: under a tenth -1.07 and -0.74, a fifth -1.12 and -0.47, under
// 0.3 -1.32 and -0.31 (the three other clips unchanged). A top already under kFaintShare is
// left as it is: cut to nothing, it becomes a cliff down to the LPC fit's floor, which the
// envelope then spends its poles on (a 997 Hz sine at 22/24 mono: 35.3 dB of round-trip SNR
// left alone, 33.3 cut; PEAQ at 44/48 stereo, median of five clips: -2.34/-0.44 cutting every
// faint top, -2.26/-0.37 leaving those under a millionth, -2.29/-0.39 under 1e-8).
class BandLimiter {
 public:
  static constexpr double kKeptShare = 0.3;
  static constexpr double kFaintShare = 1.0e-6;

  BandLimiter(double cutoffHz, int32_t realHz, int32_t blockSize);

  // blocks: one pointer per channel to blockSize coefficients of the same time; the
  // channels are cut together (noise in either lands in both outputs). Returns whether it cut.
  bool Apply(float* const* blocks, int32_t channels) const;

 private:
  int32_t size_, from_;      // from_: the first bin whose gain is under 1
  std::vector<float> gain_;  // per bin from from_ on
};

}  // namespace tvqenc
