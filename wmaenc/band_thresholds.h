// Per-band masking thresholds for the rate control: the noise power per coefficient (the
// decoder's coefficient scale) that each exponent band may carry unheard. The interface
// takes any model; SpreadBandModel is a small one of our own: band power spread across
// bands (falling 25 dB per band below a masker, 10 dB per band above it; the exponent bands
// are about a critical band wide), lowered by a fixed signal-to-mask ratio, floored at
// a level 90 dB under a full-scale tone, then taken to the power 0.6 times the band's own
// power (lowered alike) to the power 0.4.
#pragma once

#include <cstdint>

#include "stream_setup.h"

namespace wmaenc {

class BandThresholdModel {
 public:
  virtual ~BandThresholdModel() = default;
  // power: the mean coefficient power of each band; thresholds: one per band.
  virtual void Thresholds(const BlockLayout& layout, const double* power, double* thresholds) const = 0;
};

class SpreadBandModel : public BandThresholdModel {
 public:
  void Thresholds(const BlockLayout& layout, const double* power, double* thresholds) const override;
};

// Mean coefficient power of each band of coefs.
void BandPowers(const BlockLayout& layout, const float* coefs, double* power);

// Perceptual entropy of a block: bits that coding each coefficient down to its band's
// threshold roughly takes, the measure of what a frame needs.
double PerceptualEntropy(const BlockLayout& layout, const double* power, const double* thresholds);

}  // namespace wmaenc
