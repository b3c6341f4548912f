// A masking threshold for the encoder's weights: per spectral bin of one MDCT block, the
// power of noise that stays unheard beside the signal. From a power envelope of the block
// (orthonormal MDCT coefficients squared, 16-bit sample units) seen through the outer and
// middle ear: its power pooled per bark band of the mode, spread across bands (falling
// 25 dB per bark below a masker and 10 dB per bark above it), lowered by a fixed
// signal-to-mask ratio and floored by the threshold in quiet (a full-scale sine taken as
// 80 dB SPL unless the encoder says otherwise). White noise of a given variance has the same
// per-bin power in every block size, so thresholds of different block sizes compare bin for
// bin at the same frequency.
// Portable, no allocation after construction.
#pragma once

#include <cstdint>
#include <vector>

namespace psy {

class MaskModel {
 public:
  // bandWidths: bins of each band, bandCount bands covering blockSize bins (a band list
  // that falls short of the block is extended by one band up to its end).
  // fullScaleDb: the SPL a full-scale sine is taken to play at, which sets the threshold in
  // quiet against the signal.
  static constexpr double kModerateLevelDb = 80.0;
  MaskModel(int32_t sampleRate, int32_t blockSize, const uint16_t* bandWidths, int32_t bandCount,
            double fullScaleDb = kModerateLevelDb);

  // power: blockSize values; mask: blockSize values (may alias power).
  void Threshold(const float* power, float* mask) const;

  // Bin by bin: each bin's power (through the outer ear) spread to its neighbours, falling
  // 6 dB per bark either way (the strongest neighbour decides), lowered by a tone's offset,
  // floored by the threshold in quiet; so the valleys between a voice's harmonics keep a
  // low threshold. power and mask: blockSize values, distinct.
  void FineThreshold(const float* power, float* mask) const;

  // The threshold in quiet of one bin, as both thresholds floor it.
  float Quiet(int32_t bin) const;

  // The bands the model pools over: band b spans bins [BandStart(b), BandStart(b + 1)).
  int32_t Bands() const { return static_cast<int32_t>(start_.size()) - 1; }
  int32_t BandStart(int32_t band) const { return start_[band]; }

 private:
  int32_t blockSize_;
  std::vector<int32_t> start_;   // band b spans [start_[b], start_[b + 1])
  std::vector<float> spread_;    // bands x bands: share of band j's power masking band i
  std::vector<float> quiet_;     // per band: per-bin noise power at the threshold in quiet
  std::vector<float> ear_;       // per band: the outer and middle ear's power transfer
  mutable std::vector<double> pooled_;
  std::vector<float> binEar_, binQuiet_;   // per bin: ear transfer, threshold in quiet
  std::vector<float> riseUp_, riseDown_;   // per bin: spread factor from bin k-1 to k, k+1 to k
};

// The bark value of a frequency in Hz.
double Bark(double hz);

// The outer and middle ear's transfer at a frequency, dB.
double OuterEarDb(double hz);

// The threshold in quiet of a tone of that frequency, dB SPL.
double QuietThresholdDb(double hz);

}  // namespace psy
