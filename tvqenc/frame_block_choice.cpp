// The next frame's block kind: the detector's, or long against medium by an ideal coder's
// audible error.
#include "frame_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame_stages.h"

namespace tvqenc {

namespace {

// Block kind choice: the share of a frame's coefficient bits an ideal coder is granted
// (the real quantisers are far from ideal; half matched the coded results best).
constexpr double kIdealBitShare = 0.5;
// Block choice: a medium sub-block this far under the others' mean threshold is a quiet
// stretch a long block's noise would be heard in; closer, it is the ordinary unevenness of
// steady sound, and the long block is judged by the mean (by the least, steady noise went
// medium in 21 frames of 24).
constexpr float kPreEchoDrop = 0.125f;

}  // namespace

// The next frame's block kind. Short blocks where the transient detector finds an attack
// inside the frame, and the detector's kind after a short frame; otherwise long
// or medium, whichever block leaves the less audible error with an ideal coder of its
// coefficients (the next frame's block, input [N, 3N) of the kept samples, transformed
// with each kind's windows) that spends a share of the frame's bits on them: the main VQ's,
// and in a long block the peak component's too. Audible: coefficients over the square root
// of the masking threshold. A medium sub-block is judged by its own threshold; the long
// block's noise spreads over all of its time, so where a medium sub-block is far quieter
// than the others it is judged by that one's threshold: the pre-echo a quiet start would
// hear.
FrameKind FrameEncoder::ChooseNextKind(FrameKind detected) {
  if (detected == kShort || currentKind_ == kShort) return detected;
  double bestError = HUGE_VAL;
  FrameKind best = kLong;
  const int32_t mediumSize = sizes_.Block(kMedium), mediumCount = sizes_.subBlocks[kMedium];
  for (FrameKind kind : {kMedium, kLong}) {
    const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
    const int32_t inner = sizes_.InnerOverlap(kind);
    for (int32_t c = 0; c < channels_; ++c) {
      for (int32_t s = 0; s < sub; ++s) {
        // The long candidate is scored with its steady-state overlap, as it would stand once
        // the transition is over: its transition window leaks, and judged by that a steady
        // tone after a glide would stay in medium blocks for good.
        const FrameKind from = kind == kLong ? kLong : currentKind_;
        const int32_t left = s == 0 ? StartOverlap(sizes_, from, kind) : inner;
        const int32_t right = s == sub - 1 ? sizes_.EdgeOverlap(kind) : inner;
        const float* window = Window(bs, left, right);
        const float* span = input_[c].data() + n_ + n_ / 2 + s * bs - bs / 2;
        for (int32_t i = 0; i < 2 * bs; ++i) scratch_[i] = span[i] * window[i];
        mdct_[kind]->Forward(scratch_.data(), trialSpectrum_.data() + c * n_ + s * bs);
      }
    }
    if (kind == kMedium) ThresholdOf(kMedium, trialSpectrum_.data(), trialThreshold_.data());
    for (int32_t s = 0; s < sub; ++s) {
      for (int32_t k = 0; k < bs; ++k) {
        float threshold;
        if (kind == kMedium) {
          threshold = trialThreshold_[s * bs + k];
        } else {
          const int32_t bin = static_cast<int32_t>(int64_t(k) * mediumSize / bs);
          float least = trialThreshold_[bin], mean = 0.0f;
          for (int32_t m = 0; m < mediumCount; ++m) {
            least = std::min(least, trialThreshold_[m * mediumSize + bin]);
            mean += trialThreshold_[m * mediumSize + bin] / mediumCount;
          }
          threshold = least < kPreEchoDrop * mean ? least : mean;
        }
        const float scale = 1.0f / std::sqrt(threshold);
        for (int32_t c = 0; c < channels_; ++c) trialSpectrum_[c * n_ + s * bs + k] *= scale;
      }
    }
    int32_t bits = setup_.part(static_cast<twinvq::BlockKind>(kind)).TotalBits();
    if (kind == kLong) bits += setup_.part(twinvq::kPeakPart).TotalBits();
    const double error = WaterFillingError(trialSpectrum_.data(), channels_ * n_,
                                           kIdealBitShare * bits, trialPowers_.data());
    if (error < bestError) {
      bestError = error;
      best = kind;
    }
  }
  return best;
}

}  // namespace tvqenc
