// Masking threshold of one block: band powers pooled or bins one by one, seen through the
// outer ear, spread, lowered by an offset and floored by the threshold in quiet.
#include "masking.h"

#include <algorithm>
#include <cmath>

namespace psy {

namespace {

constexpr double kSlopeBelowDb = 25.0;    // per bark, towards lower frequencies
constexpr double kSlopeAboveDb = 10.0;    // per bark, towards higher frequencies
constexpr double kFineSlopeDb = 6.0;      // per bark either way, bin by bin: a line's MDCT
                                          // spreads over many bins (the sine window's side
                                          // lobes), and those bins are the line, not apart
                                          // from it; steeper slopes call its own skirts
                                          // unmasked and draw the effort away from the line
constexpr double kBandOffsetDb = 12.0;    // a band's power above its threshold
constexpr double kFineOffsetDb = 27.0;    // a bin's power above its threshold: a tone masks
                                          // far less than noise, and a bin may be a tone
constexpr double kQuietCapDb = 70.0;      // the threshold in quiet rises without end near 0 Hz
constexpr double kFullScalePower = 32768.0 * 32768.0 / 2.0;

double FromDb(double db) { return std::pow(10.0, db / 10.0); }

}  // namespace

double Bark(double hz) {
  return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

double OuterEarDb(double hz) {
  const double f = std::max(hz, 20.0) / 1000.0;
  return -2.184 * std::pow(f, -0.8) + 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) -
         1.0e-3 * std::pow(f, 3.6);
}

double QuietThresholdDb(double hz) {
  const double f = std::max(hz, 20.0) / 1000.0;
  const double db = 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) +
                    1.0e-3 * f * f * f * f;
  return std::min(db, kQuietCapDb);
}

MaskModel::MaskModel(int32_t sampleRate, int32_t blockSize, const uint16_t* bandWidths,
                     int32_t bandCount, double fullScaleDb)
    : blockSize_(blockSize) {
  start_.push_back(0);
  for (int32_t b = 0; b < bandCount && start_.back() < blockSize; ++b) {
    start_.push_back(std::min(blockSize, start_.back() + std::max<int32_t>(bandWidths[b], 1)));
  }
  if (start_.back() < blockSize) start_.push_back(blockSize);
  const int32_t bands = static_cast<int32_t>(start_.size()) - 1;
  const double binHz = 0.5 * sampleRate / blockSize;
  std::vector<double> centre(bands);
  quiet_.resize(bands);
  ear_.resize(bands);
  for (int32_t b = 0; b < bands; ++b) {
    centre[b] = Bark(0.5 * (start_[b] + start_[b + 1]) * binHz);
    ear_[b] = static_cast<float>(FromDb(OuterEarDb(0.5 * (start_[b] + start_[b + 1]) * binHz)));
    // The band's noise is just heard when its power reaches a tone's threshold at the
    // band's most sensitive bin.
    double least = HUGE_VAL;
    for (int32_t k = start_[b]; k < start_[b + 1]; ++k) {
      least = std::min(least, QuietThresholdDb((k + 0.5) * binHz));
    }
    const double bandPower = kFullScalePower * FromDb(least - fullScaleDb);
    quiet_[b] = static_cast<float>(bandPower * blockSize / (start_[b + 1] - start_[b]));
  }
  spread_.resize(size_t(bands) * bands);
  for (int32_t i = 0; i < bands; ++i) {
    for (int32_t j = 0; j < bands; ++j) {
      const double dz = centre[i] - centre[j];
      const double db = dz >= 0.0 ? -kSlopeAboveDb * dz : kSlopeBelowDb * dz;
      spread_[size_t(i) * bands + j] = static_cast<float>(FromDb(db - kBandOffsetDb));
    }
  }
  pooled_.resize(bands);
  binEar_.resize(blockSize);
  binQuiet_.resize(blockSize);
  for (int32_t b = 0; b < bands; ++b) {
    for (int32_t k = start_[b]; k < start_[b + 1]; ++k) binQuiet_[k] = quiet_[b];
  }
  riseUp_.assign(blockSize, 0.0f);
  riseDown_.assign(blockSize, 0.0f);
  for (int32_t k = 0; k < blockSize; ++k) {
    const double hz = (k + 0.5) * binHz;
    binEar_[k] = static_cast<float>(FromDb(OuterEarDb(hz)));
    if (k > 0) {
      const double dz = Bark(hz) - Bark(hz - binHz);
      riseUp_[k] = static_cast<float>(FromDb(-kFineSlopeDb * dz));
      riseDown_[k - 1] = static_cast<float>(FromDb(-kFineSlopeDb * dz));
    }
  }
}

void MaskModel::FineThreshold(const float* power, float* mask) const {
  const int32_t n = blockSize_;
  const float offset = static_cast<float>(FromDb(-kFineOffsetDb));
  float carry = 0.0f;
  for (int32_t k = 0; k < n; ++k) {
    carry = std::max(power[k] * binEar_[k], carry * riseUp_[k]);
    mask[k] = carry;
  }
  carry = 0.0f;
  for (int32_t k = n - 1; k >= 0; --k) {
    carry = std::max(power[k] * binEar_[k], carry * riseDown_[k]);
    mask[k] = std::max(offset * std::max(mask[k], carry) / binEar_[k], binQuiet_[k]);
  }
}

void MaskModel::Threshold(const float* power, float* mask) const {
  const int32_t bands = static_cast<int32_t>(pooled_.size());
  for (int32_t b = 0; b < bands; ++b) {
    double sum = 0.0;
    for (int32_t k = start_[b]; k < start_[b + 1]; ++k) sum += power[k];
    pooled_[b] = sum * ear_[b];
  }
  for (int32_t i = 0; i < bands; ++i) {
    const float* row = spread_.data() + size_t(i) * bands;
    double sum = 0.0;
    for (int32_t j = 0; j < bands; ++j) sum += row[j] * pooled_[j];
    const int32_t width = start_[i + 1] - start_[i];
    const float level = std::max(static_cast<float>(sum / width / ear_[i]), quiet_[i]);
    std::fill(mask + start_[i], mask + start_[i + 1], level);
  }
}

float MaskModel::Quiet(int32_t bin) const { return binQuiet_[std::min(std::max(bin, 0), blockSize_ - 1)]; }

}  // namespace psy
