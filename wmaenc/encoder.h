// The WMA (version 2) encoder: frames of PCM in, packets of the stream's size out.
// Each frame is one block of the frame's length, or where a high-passed transient detector
// finds an onset, a run of short blocks; the windows are the decoder's (sine slopes as
// long as the shorter of two neighbours). A frame is coded when the next has arrived, so
// that its last block's window knows the size after it.
// A masking model gives each band a noise threshold; the exponents shape the steps to
// them, and the total gain is the finest whose bits fit the frame's target. The target is
// the frame's share of the bit rate, more (from the reservoir) for frames whose perceptual
// entropy is above the running mean, less for those below. Bits a frame leaves go to the
// next ones (frames cross packet bounds); more saved than the reservoir holds are spent as
// filler. Stereo blocks go mid/side where that leaves less noise over the thresholds.
// Optionally it keeps what the decoder will output.
// No exception leaves it: a failed allocation is the kNoMemory result.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "band_thresholds.h"
#include "frame_coder.h"
#include "psy_band_model.h"
#include "stream_setup.h"
#include "superframe_packer.h"

namespace tvqenc { class Mdct; }
namespace twinvq { class HalfImdct; }

namespace wmaenc {

enum class Result { kOk, kNoMemory, kWrongState };

// Bands above the decoder's noise split sent as noise at their own power, where the stream
// has noise coding: a band goes as noise where it is noise-like (its spectral flatness,
// geometric over arithmetic mean of its coefficients' power, at least minFlatness) and
// heard (power over its threshold), and either lies above the coded spectrum or stands at
// most mostOverThresholdDb over its threshold (its detail costs more than it is heard).
// Not in a block whose top is uneven in time (a click's: noise would spread it over the
// whole block): mostTemporalPeak bounds the top's largest eighth of the block over their
// mean (steady noise about 2, a click alone 8).
struct NoiseBandTuning {
  bool enabled = false;
  double minFlatness = 0.15;
  double mostOverThresholdDb = 14.0;
  double mostTemporalPeak = 3.0;
};

// What the encoder uses unless told otherwise: noise bands on where the stream has noise
// coding at 32 kHz (PEAQ, seven clips: dense noise such as applause gains 0.4 to 0.6 in
// distortion index, the rest within 0.06), off below (at 22.05 kHz they change next to
// nothing, at 16 and 8 kHz tonal clips lose more than noise gains).
NoiseBandTuning DefaultNoiseBands(const StreamSetup& setup);

struct EncoderStats {
  int64_t frames = 0;
  int64_t frameBits = 0;        // all frames' bits
  int64_t fillerBits = 0;       // of those, zero-valued escapes spent as filler
  int64_t largestReservoir = 0;
  int64_t smallestReservoir = 0;
  int64_t blocks = 0;
  int64_t midSideBlocks = 0;
  int64_t shortFrames = 0;      // frames coded as short blocks
  int64_t reusedExponents = 0;  // short blocks keeping the exponents before
  int64_t noiseBands = 0;       // bands sent as noise, over blocks and channels
};

class Encoder {
 public:
  Encoder();
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  Result Open(const StreamSetup& setup, bool keepReconstruction) noexcept;
  // setup().frameLength samples per channel, full scale +-1. The frame before is coded now.
  Result EncodeFrame(const float* const* planes) noexcept;
  // Codes the last frame, closes the last packet (padded); no frame may follow.
  Result Finish() noexcept;
  bool TakePacket(std::vector<uint8_t>* packet) noexcept;
  // Another masking model (the encoder keeps the pointer; null restores its own).
  void SetThresholdModel(const BandThresholdModel* model) { model_ = model ? model : &ownModel_; }
  // Other noise band settings (after Open, which sets DefaultNoiseBands).
  void SetNoiseBands(const NoiseBandTuning& tuning) { noiseTuning_ = tuning; }
  const NoiseBandTuning& noiseBands() const { return noiseTuning_; }

  const StreamSetup& setup() const { return setup_; }
  const EncoderStats& stats() const { return stats_; }
  int64_t reservoir() const { return reservoir_; }
  int64_t reservoirLimit() const { return reservoirMax_; }
  // The bits held for later frames after the last frame, and the most kept before filler.
  // The decoder's output frame by frame as the encoder predicts it; the first frame holds
  // only the first block's rising half.
  const std::vector<float>& reconstruction(int32_t ch) const { return recon_[ch]; }

 private:
  static double CodedBandwidthHz(const StreamSetup& setup);
  static double OnsetRatio(const StreamSetup& setup);
  static bool Affordable(const StreamSetup& setup, int32_t k);
  int32_t CodedEnd(int32_t length) const;
  int32_t DetectOnset();
  bool CanReuseExponents(const BlockPlan& plan) const;
  void EncodePending();
  void Analyse(int32_t size, int32_t index, int32_t previousSize, int32_t nextSize);
  void EncodeBlock(const BlockPlan& sizes, int32_t index, int64_t target, int64_t frameAvailable, int32_t blocksLeft,
                   int64_t* used);
  void PlanBlock(const double (*thresholds)[kMaxBands], BlockPlan* plan);
  void ChooseNoiseBands(const std::vector<float>* spectrum, const double (*thresholds)[kMaxBands],
                        const double* temporalPeak, BlockPlan* plan);
  double TopTemporalPeak(int32_t start, int32_t length, int32_t ch, float other) const;
  int64_t NextBudget();
  int64_t FrameTarget(int64_t budget, double entropy);
  void ChooseGain(int64_t target, int64_t ceiling, int64_t roomShare, bool needsFiller,
                  const std::vector<float>* coefs, BlockPlan* plan);
  void SpendOnBands(int64_t target, const std::vector<float>* coefs, BlockPlan* plan);
  void SpendSurplus(int64_t available, int64_t limit, int64_t before, BlockPlan* plan, int64_t* used);
  void Reconstruct(const BlockPlan& plan, int32_t index);
  void EmitReconstruction();

  StreamSetup setup_;
  bool open_ = false, finished_ = false, keepRecon_ = false;
  std::unique_ptr<tvqenc::Mdct> mdct_[kMaxBlockSizes];
  std::unique_ptr<twinvq::HalfImdct> imdct_[kMaxBlockSizes];
  std::vector<float> window_;                 // the block's window, up to 2F
  std::vector<float> input_[kMaxChannels];    // 3F: the frame before, the frame coded, the next
  int32_t framesIn_ = 0;
  int32_t nextSize_ = 0, pendingSize_ = 0;   // block size index of the next frame and the one coded
  double bandwidthHz_ = 0;                    // coefficients above are coded as zeros
  double onsetRatio_ = 10;                    // energy rise that calls for short blocks
  int32_t shortSize_ = 0;                     // block size index at onsets (0: none affordable)
  int32_t sharpSize_ = 0;                     // block size index for the sharpest onsets
  int32_t lastSize_ = 0;                      // size index of the last block coded
  // The exponents the decoder holds per channel: values, block size (-1: none), stereo coding.
  int32_t heldExponents_[kMaxChannels][kMaxBands] = {};
  int32_t heldSize_[kMaxChannels] = {-1, -1};
  bool heldMidSide_[kMaxChannels] = {};
  double onsetHistory_[4] = {};               // high-passed energies of the last segments
  std::vector<float> coefs_[kMaxChannels];    // the decoder's scale, left/right
  std::vector<float> midSide_[kMaxChannels];  // (L + R) / 2 and (L - R) / 2
  // The same before the coded spectrum's end (cut_) was cleared: what noise bands follow.
  std::vector<float> spectrum_[kMaxChannels], midSideSpectrum_[kMaxChannels];
  int32_t cut_ = 0;
  double temporalPeak_[kMaxChannels] = {}, midSideTemporalPeak_[kMaxChannels] = {};
  NoiseBandTuning noiseTuning_;
  std::vector<float> scratch_, scratch2_;
  std::unique_ptr<BlockPlan> plan_, midSidePlan_;
  PsyBandModel ownModel_;
  const BandThresholdModel* model_ = &ownModel_;
  double meanEntropy_ = 0;
  SuperframePacker packer_;
  BitWriter frameBits_;
  int64_t budgetNumerator_ = 0, budgetDenominator_ = 1, budgetRemainder_ = 0;
  int64_t reservoir_ = 0, reservoirMax_ = 0;
  std::vector<float> frameOut_[kMaxChannels];  // 2F: the decoder's overlap buffer
  std::vector<float> recon_[kMaxChannels];
  int32_t noiseIndex_ = 0;
  EncoderStats stats_;
};

}  // namespace wmaenc
