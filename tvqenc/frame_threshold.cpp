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
// Medium frames at 44.1 kHz that hold music (not a lone line: the empty-band test below)
// weigh noise against a deeper mask: their sub-blocks are a voice's or a piano's onsets,
// whose quiet bins the compressed mask left to noise. PEAQ ODG at 44/48 stereo (band, speech,
// transients, piano, orchestra): 0.65 -2.91 -2.23 -2.12 -2.59 -2.26; 0.8 -2.93 -2.12 -2.10
// -2.41 -2.25; 0.85 -2.96 -2.11 -2.16 -2.42 -2.23. In every medium frame it took a fast
// glide 1.2 dB of SNR (a lone line, which keeps 0.65 here).
constexpr double kMediumMaskDepth = 0.8;
// The mask's lean towards the envelope's power (a share, in the log domain) and how far
// under that power it leans.
constexpr double kLean = 0.3;
const double kLeanUnder = std::pow(10.0, -0.6);
// Empty bands: a bark band whose own power lies under its masking threshold holds nothing
// the quantiser need keep, and anything the decoder puts there is heard as noise (the
// envelopes cannot fall as far as the signal does, above a voice's top or between a
// piano's partials). Their bins' noise weighs this many times more, as if the mask were
// uncompressed there. PEAQ at 44/48 stereo, DI of band, speech, transients, piano and
// orchestra: without -0.92 -1.95 -1.09 -2.37 -0.86; 4x -0.99 -1.37 -0.94 -1.85 -0.51;
// 8x -1.06 -1.14 -0.79 -1.69 -0.51; 16x -1.20 -1.07 -0.95 -1.60 -0.51; 8x but not in
// mostly empty sub-blocks (below) -1.03 -1.10 -0.94 -1.69 -0.51. With the later block
// switch and short-frame envelope: 8x -1.02 -0.81 -0.78 -1.43 -0.49, 12x -1.07 -0.70 -0.74
// -1.29 -0.49, 16x -1.14 -0.68 -0.97 -1.16 -0.51. A bin's own power under its threshold
// instead of its band's: a hat's or a pad's bins between their peaks count as empty, and
// the band clip lost 0.35.
constexpr float kEmptyBandBoost = 12.0f;
// A sub-block with more of its bins in empty bands than this, or with fewer bands that hold
// anything, is a lone tone, a sweep or silence: there the boost would take the line's own
// accuracy (a sine lost 2-6 dB of SNR, a fast sweep 5 dB in medium blocks, where it spans
// up to three bands). Speech and music fill 6 to 40 bands.
constexpr double kMostlyEmpty = 0.9;
constexpr int32_t kFewestFullBands = 4;

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
    double* base = powerBases_.data();
    double* lifted = powerBases_.data() + bs;
    for (int32_t k = 0; k < bs; ++k) {
      const double t = std::max(double(threshold[k]), 1.0e-30);
      lifted[k] = t;
      base[k] = (double(power[k]) * kLeanUnder + 1.0e-30) / t;
    }
    PowerOfEach(base, kLean, base, bs);
    for (int32_t k = 0; k < bs; ++k) threshold[k] = static_cast<float>(lifted[k] * base[k]);
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
    const bool music = boostEmptyBands_ && MarkEmptyBands(kind, power, threshold);
    const double depth = music && attackTuned_ && kind == kMedium ? kMediumMaskDepth : kMaskDepth;
    float* weight = noiseWeight_.data() + s * bs;
    for (int32_t k = 0; k < bs; ++k) base[k] = threshold[k];
    PowerOfEach(base, -depth, base, bs);
    for (int32_t k = 0; k < bs; ++k) weight[k] = static_cast<float>(base[k]);
    if (music) {
      for (int32_t k = 0; k < bs; ++k) {
        if (emptyBins_[k]) weight[k] *= kEmptyBandBoost;
      }
    }
  }
}

// Marks the bins of empty bark bands (the band's mean power under the bin's threshold; the
// bands the masking model pools over) in emptyBins_. False where the sub-block is a lone
// line or silence: its empty bins' noise then weighs as any other.
bool FrameEncoder::MarkEmptyBands(FrameKind kind, const float* power, const float* threshold) {
  const MaskModel& model = *masks_[kind];
  const int32_t bs = sizes_.Block(kind);
  uint8_t* empty = emptyBins_.data();
  int32_t emptyCount = 0, fullBands = 0;
  for (int32_t band = 0; band < model.Bands(); ++band) {
    const int32_t start = model.BandStart(band), end = model.BandStart(band + 1);
    double sum = 0.0;
    for (int32_t k = start; k < end; ++k) sum += power[k];
    const float mean = static_cast<float>(sum / (end - start));
    int32_t emptyHere = 0;
    for (int32_t k = start; k < end; ++k) {
      empty[k] = mean < threshold[k];
      emptyHere += empty[k];
    }
    emptyCount += emptyHere;
    fullBands += emptyHere < end - start;
  }
  return emptyCount <= kMostlyEmpty * bs && fullBands >= kFewestFullBands;
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
