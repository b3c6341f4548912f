// The TwinVQ encoder of one stream: consumes a frame of samples per call and chooses every
// quantiser index by predicting what the decoder reconstructs from it.
//
// Timing: call k hands in input samples [kN, (k+1)N). Block k of the decoder spans input
// [(k-2)N, kN) (its central N samples [(k-1.5)N, (k-0.5)N)); the decoder drops the first two
// frames, so its output sample i is input sample i. The last N samples handed in are the
// look-ahead that decides the next frame's block size, which fixes this frame's last window.
//
// Per frame and coded channel (mono, or (L+R)/sqrt2 and (L-R)/sqrt2):
//   X = MDCT(windowed samples)                         the spectrum the decoder rebuilds
//   LSP envelope E: LPC of the frame's power spectrum, quantised with both history choices,
//     each scored by the decoded envelope's fit
//     (a grid point weighs one over the square root of its bark band's count)
//   bark envelope st per sub-block: codebook entries closest in the log domain, with and
//     without history, each bark band alike
//   masking threshold T per bin and sub-block: from the decoded envelope and the bins' own
//     powers (MaskModel), carried forward in time (post-masking)
//   gains g: level matching, then a climb over scale factors scored by the VQ's error
//   main VQ: target (X/E - peaks)/(st g), weights (E st g)^2 / T^0.65, two codebooks per
//     vector; the gains are refined with the same weights
// Portable: no Windows code.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bandwidth.h"
#include "block_switch.h"
#include "decoder_model.h"
#include "frame_values.h"
#include "lpc.h"
#include "masking.h"
#include "mdct.h"
#include "stream_setup.h"
#include "vq_search.h"

namespace tvqenc {

using psy::MaskModel;

class FrameEncoder {
 public:
  explicit FrameEncoder(const twinvq::StreamSetup& setup);

  // The state of a new stream (tables and caches stay).
  void Reset();

  // samples: frameSize values per channel, channel after channel, in 16-bit units.
  void Encode(const float* samples, twinvq::FrameValues* values);

  // The spectrum the last Encode quantised: channels x frameSize, as the decoder's
  // Synthesize takes it (for tests of the analysis against the decoder's synthesis).
  const float* LastSpectrum() const { return spectrum_.data(); }

  // Whether the spectrum is low-passed to the mode's coded bandwidth (on by default; off,
  // the analysis is the exact inverse of the decoder's synthesis).
  void SetBandLimit(bool on) { limitBandwidth_ = on; }

 private:

  void Transform(FrameKind kind, int32_t firstOverlap, int32_t lastOverlap);
  FrameKind ChooseNextKind(FrameKind detected);
  const float* Window(int32_t blockSize, int32_t left, int32_t right);
  void QuantizeLsp(int32_t ch, FrameKind kind, twinvq::FrameValues* values);
  void QuantizeBark(int32_t ch, FrameKind kind, twinvq::FrameValues* values);
  void QuantizeGains(FrameKind kind, double scale, twinvq::FrameValues* values);
  // Book b (0, 1) of a part for the search of its vector `pair`.
  Codebook BookOf(int32_t part, int32_t b, int32_t pair) const;
  double QuantizeMain(FrameKind kind, const twinvq::FrameValues& values, int32_t preselect,
                      twinvq::FrameValues* out);
  void RefineGains(FrameKind kind, twinvq::FrameValues* values);
  void QuantizeFrame(FrameKind kind, twinvq::FrameValues* values);
  void KeepWithinFullScale(FrameKind kind, twinvq::FrameValues* values);
  void BuildThreshold(FrameKind kind);
  void ThresholdOf(FrameKind kind, const float* spectrum, float* threshold);
  bool MarkEmptyBands(FrameKind kind, const float* power, const float* threshold);
  void MeanPower(const float* first, int32_t count, float* power) const;
  void BuildAmplitudes(FrameKind kind, const twinvq::FrameValues& values);
  void BuildAmplitudesAt(FrameKind kind, const float (*gains)[twinvq::kMaxSubBlocks]);
  void PrepareUnitGainStats();
  void QuantizePeaks(twinvq::FrameValues* values);

  const twinvq::StreamSetup& setup_;
  BlockSizes sizes_;
  int32_t channels_, n_;
  std::unique_ptr<Mdct> mdct_[3];
  std::unique_ptr<MaskModel> masks_[3];
  std::unique_ptr<BandLimiter> limiters_[3];  // per block kind: the coded bandwidth
  LsfFinder lsfFinder_;                  // the LSF search of the mode's order
  std::vector<double> binCos_[3];        // per block kind: cos((k + 1/2) pi / block size)
  std::vector<double> binCosRows_[3];    // per block kind: their multiples' (BinCosineRows)
  std::vector<double> gridWeight_[3];    // per block kind: the LSP fit's grid point weights
  struct CachedWindow {
    int32_t size, left, right;
    std::vector<float> values;
  };
  std::vector<CachedWindow> windows_;    // analysis windows met so far
  std::vector<float> input_[2];          // per channel: 3N samples, [(k-2)N, (k+1)N)
  std::vector<float> spectrum_;          // channels x N
  std::vector<float> lpcEnvelope_[2];    // per channel, block size values
  std::vector<float> barkShape_;         // channels x N: st without gain
  std::vector<float> amplitude_;         // channels x N: E st g
  std::vector<float> peaks_;             // channels x N: peak component before E
  std::vector<float> target_, weight_;   // slots of the main VQ
  std::vector<float> scratch_;
  std::unique_ptr<VqScratch> vqScratch_ = std::make_unique<VqScratch>();
  // Long frames: each main vector's statistics per book and channel at unit gain (vector,
  // book, channel), from which each gain's statistics are scaled; valid while unitGainFrame_.
  std::vector<VqStats> unitGainStats_;
  bool unitGainFrame_ = false;
  std::vector<float> trialSpectrum_, trialPowers_;  // the next block's kinds on trial
  // The parts' codebooks (the setup's float copies, kPeakPart = 3) transposed for the searches.
  std::vector<float> columns_[4][2];
  float barkHistory_[3][2][twinvq::kMaxBands];
  // Log of each bark codebook value's envelope step without history (entry-major, as the book).
  std::vector<double> barkPlainLog_[3];
  std::vector<double> barkHistoryLog_;   // the bark search's step logs with history (frame_bark.cpp)
  float lspHistory_[2][twinvq::kMaxLspOrder];
  float levelGain_[256];                 // long-frame gain per 8-bit index
  float subGain_[32];                    // short/medium sub-block factor per 5-bit index
  double logLevelGain_[256], logSubGain_[32], logPeakGain_[256];  // their logarithms
  // The peak component's bins for each period index (kMaxPeakShapeLength a period): the
  // period search looks at every one in every long frame.
  std::vector<int32_t> peakBins_;
  std::vector<double> peakPower_;        // N + 1: the period search's bin powers
  double codebookRms_[3];
  double wantedGain_[2][twinvq::kMaxSubBlocks];
  std::vector<float> threshold_;         // N: masking threshold per bin of each sub-block
  std::vector<float> noiseWeight_;       // N: what a unit of noise there costs
  std::vector<double> powerBases_;       // 2N: the masking model's powers, taken together
  std::vector<float> carried_;           // the last sub-block's threshold, for post-masking
  int32_t carriedSize_ = 0;              // its block size (0: none)
  std::vector<uint8_t> emptyBins_;       // per bin of a sub-block: in an empty bark band
  std::vector<float> trialThreshold_;    // the next block's thresholds on trial
  FrameKind previousKind_ = kLong, currentKind_ = kLong;
  int32_t scanStart_ = 0;                // where the gain scan starts: the last frame's best
  bool limitBandwidth_ = true;
  // The pre-echo measures, the high-passed transient detector in place of the plain one and
  // the envelope fitted to sub-blocks brought towards one level, are tuned at 44.1 kHz: at
  // the lower rates they cost a log sweep 4-6 dB of SNR (16 kHz mono, 11 kHz stereo), and
  // they are off there (the high-passed detector then only adds short blocks to the plain
  // one's).
  bool attackTuned_ = false;
  // Empty bands' noise weighs more (frame_threshold.cpp): on at 44.1 kHz and in the 22.05 kHz
  // modes of 1024-sample frames, where PEAQ was measured; in the modes of 512-sample frames a
  // lone tone or a sweep lost 1-2 dB of SNR with it.
  bool boostEmptyBands_ = false;
  // The LPC envelope fitted to the spectrum's magnitude rather than its power outside tonal
  // frames (frame_lsp.cpp): measured at 44.1 kHz; at 22.05 kHz mono 24 kbps PEAQ's median DI
  // was a little worse with it (-3.44 against -3.38).
  bool magnitudeEnvelope_ = false;
  // The histories before the frame being coded, for quantising it again.
  float barkBefore_[3][2][twinvq::kMaxBands];
  float lspBefore_[2][twinvq::kMaxLspOrder];
  // The decoder, fed every frame as coded: what a player will output.
  twinvq::DecoderModel decoded_;
  std::vector<float> decodedSpectrum_, decodedOutput_;
};

}  // namespace tvqenc
