#include "band_thresholds.h"

#include <algorithm>
#include <cmath>

namespace wmaenc {

void BandPowers(const BlockLayout& layout, const float* coefs, double* power) {
  int32_t pos = 0;
  for (int32_t b = 0; b < layout.bandCount; ++b) {
    double sum = 0;
    for (int32_t i = 0; i < layout.bandWidths[b]; ++i) sum += static_cast<double>(coefs[pos + i]) * coefs[pos + i];
    power[b] = sum / layout.bandWidths[b];
    pos += layout.bandWidths[b];
  }
}

double PerceptualEntropy(const BlockLayout& layout, const double* power, const double* thresholds) {
  double bits = 0;
  int32_t pos = 0;
  for (int32_t b = 0; b < layout.bandCount && pos < layout.codedEnd; ++b) {
    const int32_t width = std::min(layout.bandWidths[b], layout.codedEnd - pos);
    if (power[b] > thresholds[b]) bits += 0.5 * width * std::log2(power[b] / thresholds[b]);
    pos += layout.bandWidths[b];
  }
  return bits;
}

}  // namespace wmaenc
