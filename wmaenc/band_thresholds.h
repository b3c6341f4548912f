// Per-band masking thresholds for the rate control: the noise power per coefficient (the
// decoder's coefficient scale) that each exponent band may carry unheard. The interface
// takes any model; the encoder's own is the shared masking model (psy_band_model.h).
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

// Mean coefficient power of each band of coefs.
void BandPowers(const BlockLayout& layout, const float* coefs, double* power);

// Perceptual entropy of a block: bits that coding each coefficient down to its band's
// threshold roughly takes, the measure of what a frame needs.
double PerceptualEntropy(const BlockLayout& layout, const double* power, const double* thresholds);

}  // namespace wmaenc
