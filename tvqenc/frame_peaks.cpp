// The peak component of long frames.
#include "frame_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame_stages.h"
#include "vq_search.h"

namespace tvqenc {

// Peak component of a long frame: per channel the period whose comb catches most of the
// flattened spectrum's energy, a gain matched to the caught values, then the shape by the
// weighted VQ over both channels' values (the decoder interleaves them).
void FrameEncoder::QuantizePeaks(twinvq::FrameValues* values) {
  const int32_t length = setup_.mode().peakShapeLength;
  const int32_t periods = 1 << setup_.mode().peakPeriodBits;
  const int32_t gains = 1 << setup_.mode().peakGainBits;
  float shapeTarget[twinvq::kMaxChannels * twinvq::kMaxPeakShapeLength] = {};
  float shapeWeight[twinvq::kMaxChannels * twinvq::kMaxPeakShapeLength] = {};
  const twinvq::VectorPart& p = setup_.part(twinvq::kPeakPart);
  double shapeRms = 0.0;
  for (int32_t b = 0; b < 2; ++b) {
    double s = 0.0;
    for (int32_t i = 0; i < 64 * p.codebookStride; ++i) s += double(p.codebook[b][i]) * p.codebook[b][i];
    shapeRms += s / (64 * p.codebookStride);
  }
  shapeRms = std::sqrt(shapeRms);
  for (int32_t ch = 0; ch < channels_; ++ch) {
    const float* x = spectrum_.data() + ch * n_;
    const float* e = lpcEnvelope_[ch].data();
    // Each bin's power once, at [bin + 1]; [0] = 0 for the comb's bins outside the spectrum.
    double* power = peakPower_.data();
    power[0] = 0.0;
    for (int32_t k = 0; k < n_; ++k) power[k + 1] = double(x[k]) * x[k];
    int32_t bestPeriod = 0;
    double bestCaught = -1.0;
    for (int32_t q = 0; q < periods; ++q) {
      const int32_t* bins = peakBins_.data() + size_t(q) * twinvq::kMaxPeakShapeLength;
      double caught = 0.0;
      for (int32_t m = 0; m < length; ++m) caught += power[bins[m] + 1];
      if (caught > bestCaught) {
        bestCaught = caught;
        bestPeriod = q;
      }
    }
    const int32_t* bins = peakBins_.data() + size_t(bestPeriod) * twinvq::kMaxPeakShapeLength;
    double sum = 0.0;
    for (int32_t m = 0; m < length; ++m) {
      const double f = bins[m] >= 0 ? x[bins[m]] / e[bins[m]] : 0.0;
      shapeTarget[ch * length + m] = static_cast<float>(f);
      shapeWeight[ch * length + m] = bins[m] >= 0 ? e[bins[m]] * e[bins[m]] : 0.0f;
      sum += f * f;
    }
    // The gain index whose level best matches the caught values' RMS over the codebook's.
    const double want = std::sqrt(sum / length) / shapeRms;
    int32_t gain = 0;
    const double logWant = SafeLog(want);
    for (int32_t q = 1; q < gains; ++q) {
      if (std::fabs(logPeakGain_[q] - logWant) < std::fabs(logPeakGain_[gain] - logWant)) gain = q;
    }
    values->peakPeriod[ch] = bestPeriod;
    values->peakGain[ch] = gain;
    const float pg = twinvq::PeakGain(setup_, gain);
    for (int32_t m = 0; m < length; ++m) {
      shapeTarget[ch * length + m] /= pg;
      shapeWeight[ch * length + m] *= pg * pg;
    }
  }
  int32_t offset = 0;
  float t[kMaxVectorLength], w[kMaxVectorLength];
  for (int32_t i = 0; i < p.pairs; ++i) {
    const int32_t vectorLength = p.VectorLength(i);
    for (int32_t j = 0; j < vectorLength; ++j) {
      const int32_t slot = p.destination[offset + j];
      t[j] = shapeTarget[slot];
      w[j] = shapeWeight[slot];
    }
    offset += vectorLength;
    const VqChoice choice = SearchVq(BookOf(twinvq::kPeakPart, 0, i), BookOf(twinvq::kPeakPart, 1, i), t, w,
                                     vectorLength, 0, vqScratch_.get());
    values->peak[i][0] = choice.field0;
    values->peak[i][1] = choice.field1;
  }
}

}  // namespace tvqenc
