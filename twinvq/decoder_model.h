// An exact model of TwinVQ decoding: from one frame's values and the decoder's state, the
// frame's output samples, as an independent decoder (FFmpeg's) reconstructs them. The
// stages are public so that an encoder can predict each of them:
//
//   spectrum = LPC envelope x (bark envelope x gain x main vectors + peak component)
//   samples  = half-IMDCT per sub-block, sine-window overlap with the previous block,
//              stereo as sum and difference of the two coded channels
//
// Float and double steps follow the reference arithmetic, so results agree to float
// rounding of the transform. Output is in full-scale units (1.0 = full scale).
//
// Stable interface: the encoder library builds on it.
#pragma once

#include <cstdint>
#include <vector>

#include "frame_values.h"
#include "imdct.h"
#include "stream_setup.h"

namespace twinvq {

constexpr int32_t kMaxBands = 40;

// Dequantises the pairs of a codebook part (a block kind's main spectrum, or kPeakPart) into
// out: channels x frame size values for a block kind (channel-major, sub-blocks in order),
// channels x peak shape length for the peak part.
void DequantizePart(const StreamSetup& setup, BlockKind part, const int32_t (*pairs)[2],
                    float* out);

// Gain of a long frame's channel for its 8-bit gain index.
float LongBlockGain(int32_t gainIndex);
// Gain of a short or medium sub-block: the channel's 8-bit and the sub-block's 5-bit index.
float SubBlockGain(int32_t gainIndex, int32_t subGainIndex);
// Gain of each channel's sub-blocks (one per channel in long frames).
void DecodeGains(const StreamSetup& setup, const FrameValues& values,
                 float gains[kMaxChannels][kMaxSubBlocks]);

// Bark envelope of one sub-block times gain (blockSize values). history holds the band
// values of the last sub-block of this kind and channel; it is updated.
// How much of the previous frame's bark envelope a block kind's envelope keeps.
float BarkHistoryBlend(BlockKind kind);
void BarkEnvelope(const StreamSetup& setup, BlockKind kind, const int32_t* barkIndices,
                  bool useHistory, float gain, float* history, float* out);

// The linear gain of a peak-component gain index.
float PeakGain(const StreamSetup& setup, int32_t gainIndex);
// Bin of peak number k (k >= 1) for a coded period (period·k/400, with the format's ties).
int32_t PeakCentre(int32_t period, int32_t k);
// Adds the peak component of one channel (shape: peak shape length values) to its spectrum.
// The most peak-shape values a channel has in any mode.
constexpr int32_t kMaxPeakShapeLength = 64;
// The bin each value of a channel's peak shape lands on (-1: outside the spectrum), in the
// order the decoder spends the shape: half a peak at bin 0, then whole peaks around the
// multiples of the period, the last one taking what is left. Fills and returns the mode's
// shape length (at most kMaxPeakShapeLength).
int32_t PeakBins(const StreamSetup& setup, int32_t periodIndex, int32_t* bins);
void AddPeaks(const StreamSetup& setup, int32_t periodIndex, int32_t gainIndex,
              const float* shape, float* spectrum);

// LSP codebook value i (first stage, then second stage, then history weights) as a float.
float LspCodebookValue(const RateMode& mode, int32_t i);
// End (exclusive) of LSP split `split`; split s covers [LspSplitEnd(s - 1), LspSplitEnd(s)).
int32_t LspSplitEnd(const RateMode& mode, int32_t split);

// LSP frequencies (radians, ascending) of one channel; history holds the previous frame's
// first-stage-plus-split vector and is updated.
void DecodeLsp(const StreamSetup& setup, int32_t historyIndex, int32_t firstIndex,
               const int32_t* splitIndices, float* history, float* lsp);
// The LPC envelope of a block kind from LSP frequencies: blockSize values.
void LpcEnvelope(const StreamSetup& setup, BlockKind kind, const float* lsp, float* out);

// The decoder's state for one stream. It refers to its StreamSetup, which must outlive it;
// it is copyable, so an encoder can try a frame on a copy and keep the copy it chooses.
class DecoderModel {
 public:
  explicit DecoderModel(const StreamSetup& setup);
  // The state of a freshly opened decoder.
  void Reset();

  // The spectrum of a frame: channels x frameSize values, channel-major; updates the bark
  // and LSP histories. Values should pass ValuesFitFields; wider ones are cut to their
  // fields' widths (never read outside a table), and a window type outside 0..8 counts as 0.
  void DecodeSpectrum(const FrameValues& values, float* spectrum);
  // Transforms and overlaps a decoded spectrum: frameSize samples per channel into out,
  // interleaved by channel. An independent decoder drops the first two frames' output.
  void Synthesize(int32_t windowType, const float* spectrum, float* out);
  // DecodeSpectrum then Synthesize. False, with nothing decoded and the state unchanged,
  // when a value does not fit its field (ValuesFitFields).
  bool DecodeFrame(const FrameValues& values, float* out);
  // Takes back the last Synthesize (its output stands), or the last DecodeSpectrum and
  // Synthesize: the state is as before them. For an encoder that tries a frame and keeps it
  // only if it suits.
  void UndoSynthesis();
  void UndoFrame();
  // Synthesize of one more frame after the last, for a look only: its output, with the
  // state (and what the undo calls restore) as it was. Synthesize then UndoSynthesis would
  // overwrite the overlap the frame before left, which a later UndoFrame brings back.
  void SynthesizeAhead(int32_t windowType, const float* spectrum, float* out);

  const StreamSetup& setup() const { return setup_; }

 private:
  const StreamSetup& setup_;
  HalfImdct imdct_[3];
  float barkHistory_[3][kMaxChannels][kMaxBands];
  float lspHistory_[kMaxChannels][kMaxLspOrder];
  // Per channel two frames of samples: the current and the previous frame's blocks.
  std::vector<float> current_, previous_;
  std::vector<float> ahead_;  // the buffer SynthesizeAhead writes
  int32_t outputStart_ = 0;  // where the previous frame's overlap region starts
  // The state before the last frame, for the undo calls.
  float undoBark_[3][kMaxChannels][kMaxBands];
  float undoLsp_[kMaxChannels][kMaxLspOrder];
  int32_t undoOutputStart_ = 0;
  std::vector<float> blockOutput_, scratch_;
};

}  // namespace twinvq
