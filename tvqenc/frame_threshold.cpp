// The psychoacoustic model of a frame: the masking threshold of each sub-block and the
// noise weights the quantisers read from it.
#include "frame_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame_stages.h"

namespace tvqenc {

namespace {

// Post-masking: a sub-block's threshold carries into the next ones, falling this fast.
constexpr double kPostMaskingDbPerMs = 0.3;
// Noise is weighed against the threshold raised to this power, a compressed mask: the
// quantiser's noise sits at a roughly fixed depth under the envelope it codes against, and
// weighed against the full mask, bins whose threshold it cannot reach (a line's far skirts,
// the envelope's floor) draw the effort away from the lines themselves, which then lose
// their accuracy (a steady tone: 45 -> 22 dB SNR for no gain heard).
constexpr double kMaskDepth = 0.65;
// The mask's lean towards the envelope's power (a share, in the log domain) and how far
// under that power it leans.
constexpr double kLean = 0.3;
const double kLeanUnder = std::pow(10.0, -0.6);

}  // namespace

// Masking threshold of each sub-block from the envelope the decoder rebuilds (LPC envelope
// x bark envelope x level-matched gain x the codebook's RMS, plus the peak component): the
// coded channels' mean power, since noise in either lands in both output channels. A loud
// sub-block's threshold carries into the quieter ones after it (post-masking), so the noise
// before an attack weighs more than the noise after it.
void FrameEncoder::BuildThreshold(FrameKind kind) {
  const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  const double hopMs = 1000.0 * bs / setup_.mode().realHz;
  const float decay = static_cast<float>(std::pow(10.0, -kPostMaskingDbPerMs * hopMs / 10.0));
  float* power = scratch_.data();
  for (int32_t s = 0; s < sub; ++s) {
    std::fill(power, power + bs, 0.0f);
    for (int32_t ch = 0; ch < channels_; ++ch) {
      const double level = wantedGain_[ch][s] * codebookRms_[kind];
      for (int32_t k = 0; k < bs; ++k) {
        const int32_t at = ch * n_ + s * bs + k;
        const double e = lpcEnvelope_[ch][k];
        const double coded = e * barkShape_[at] * level, peak = e * peaks_[at];
        power[k] += static_cast<float>((coded * coded + peak * peak) / channels_);
      }
    }
    float* threshold = threshold_.data() + s * bs;
    masks_[kind]->Threshold(power, threshold);
    // The spread mask leans towards the envelope's own power some way under it: where the
    // mask falls far under the envelope (between the strong bands), noise at the mask
    // would cost bits that the bands heard most need more.
    for (int32_t k = 0; k < bs; ++k) {
      const double t = std::max(double(threshold[k]), 1.0e-30);
      threshold[k] = static_cast<float>(t * Power((double(power[k]) * kLeanUnder + 1.0e-30) / t, kLean));
    }
    // The envelope is smooth: it cannot see the valleys between a voice's or a chord's
    // lines, where noise is heard long before it is at the envelope's level. The bins' own
    // threshold lowers it there.
    float* fine = scratch_.data() + bs;
    MeanPower(spectrum_.data() + s * bs, bs, power);
    masks_[kind]->FineThreshold(power, fine);
    for (int32_t k = 0; k < bs; ++k) threshold[k] = std::min(threshold[k], fine[k]);
    const float* before = s > 0 ? threshold - bs : carried_.data();
    const int32_t beforeSize = s > 0 ? bs : carriedSize_;
    for (int32_t k = 0; k < bs && beforeSize > 0; ++k) {
      threshold[k] = std::max(threshold[k], decay * before[int64_t(k) * beforeSize / bs]);
    }
    for (int32_t k = 0; k < bs; ++k) {
      noiseWeight_[s * bs + k] = static_cast<float>(Power(double(threshold[k]), -kMaskDepth));
    }
  }
}

// The coded channels' mean power of count coefficients from `first` on in each channel.
void FrameEncoder::MeanPower(const float* first, int32_t count, float* power) const {
  std::fill(power, power + count, 0.0f);
  for (int32_t ch = 0; ch < channels_; ++ch) {
    const float* x = first + ch * n_;
    for (int32_t k = 0; k < count; ++k) power[k] += x[k] * x[k] / channels_;
  }
}

// Thresholds of a trial transform's sub-blocks from its own coefficients.
void FrameEncoder::ThresholdOf(FrameKind kind, const float* spectrum, float* threshold) {
  const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  float* power = scratch_.data();
  for (int32_t s = 0; s < sub; ++s) {
    MeanPower(spectrum + s * bs, bs, power);
    masks_[kind]->Threshold(power, threshold + s * bs);
  }
}

}  // namespace tvqenc
