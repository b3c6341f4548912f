// The frame loop: the input kept, the next block kind chosen (frame_block_choice.cpp), the
// transform, then the stages in order: LSP envelope (frame_lsp.cpp), bark envelope
// (frame_bark.cpp), peak component (frame_peaks.cpp), the psychoacoustic model's threshold
// and noise weights (frame_threshold.cpp), the gain scan over the main VQ (here and
// frame_gains.cpp), and the decoded-peak guard.
#include "frame_encoder.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "frame_stages.h"
#include "vq_search.h"

namespace tvqenc {

namespace {

constexpr float kInputLimit = 65536.0f;  // twice full scale; beyond it input is clipped
// Gain scan: scale factors 2^(i kScanStep) tried on the level-matched gains, with a quick VQ.
constexpr int32_t kGainScanFrom = -12, kGainScanTo = 12;
constexpr double kScanStep = 0.25;
// Entries of each book the searches keep. PEAQ's median at 44/48 stereo: 8 and 24 -3.62,
// 16 and 24 -3.27, 16 and 48 -3.04 (every entry in the final search no better); with the
// leaned mask 16 and 32 -2.98, 16 and 48 -2.92, which costs the 32-bit build a quarter of
// its speed. Short frames, a drum's or a click's and rare, take 64 in the final search at
// little cost: band -3.14 -> -3.04, transients -2.17 -> -2.05 (no other clip has them; with
// 64 in every frame the median gains 0.05 for a quarter of the speed, and every frame's
// scan at 32 as well for half of it).
constexpr int32_t kScanPreselect = 16;
constexpr int32_t kFinalPreselect[3] = {64, 32, 32};  // short, medium, long
// The masking model's listening level, the SPL of a full-scale sine: louder than the model's
// moderate 80 dB, the threshold in quiet weighs less against the signal's own masking. PEAQ
// at 44/48 stereo, median of five clips: 80 dB -2.98/-1.17, 84 -2.92/-1.09 (every clip
// better), 86 -2.85/-0.99, 90 -2.83/-0.98, 98 -3.05/-1.26; but from 86 dB on, a lone tone's
// far skirts weigh more than its line, and held tones lose 1-2.5 dB of SNR.
constexpr double kListeningLevelDb = 84.0;
// Decoded peak: tries at quantising a frame again, and the margin after the first.
constexpr int32_t kPeakAttempts = 4;
constexpr float kPeakMargin = 0.95f;

float CleanSample(float v) {
  if (!(v == v)) return 0.0f;
  return std::min(std::max(v, -kInputLimit), kInputLimit);
}

}  // namespace

FrameEncoder::FrameEncoder(const twinvq::StreamSetup& setup)
    : setup_(setup), channels_(setup.channels()), n_(setup.frameSize()),
      lsfFinder_(setup.mode().lspOrder), decoded_(setup) {
  sizes_.frame = n_;
  attackTuned_ = setup.mode().realHz == 44100;
  boostEmptyBands_ = setup.mode().realHz == 44100 || (setup.mode().realHz == 22050 && n_ == 1024);
  magnitudeEnvelope_ = setup.mode().realHz == 44100;
  decodedSpectrum_.assign(size_t(channels_) * n_, 0.0f);
  decodedOutput_.assign(size_t(channels_) * n_, 0.0f);
  for (int32_t k = 0; k < 3; ++k) {
    sizes_.subBlocks[k] = setup.subBlocks(static_cast<twinvq::BlockKind>(k));
    mdct_[k] = std::make_unique<Mdct>(sizes_.Block(static_cast<FrameKind>(k)));
    binCos_[k] = BinCosines(sizes_.Block(static_cast<FrameKind>(k)));
    binCosRows_[k] = BinCosineRows(binCos_[k].data(), sizes_.Block(static_cast<FrameKind>(k)),
                                   setup.mode().lspOrder);
    gridWeight_[k] = LspGridWeights(setup.mode().block[k], sizes_.Block(static_cast<FrameKind>(k)));
    const twinvq::BlockTables& b = setup.mode().block[k];
    limiters_[k] = std::make_unique<BandLimiter>(
        CodedBandwidthHz(setup.mode().kHzCode, setup.mode().kbpsPerChannel), setup.mode().realHz,
        sizes_.Block(static_cast<FrameKind>(k)));
    masks_[k] = std::make_unique<MaskModel>(setup.mode().realHz, sizes_.Block(static_cast<FrameKind>(k)),
                                            b.bandWidths, b.bandCount, kListeningLevelDb);
  }
  windows_.reserve(32);  // at most 3 sizes x 3 x 3 edge combinations
  Reset();

  // Gain levels as the decoder computes them.
  twinvq::FrameValues probe;
  float gains[twinvq::kMaxChannels][twinvq::kMaxSubBlocks];
  probe.windowType = 0;
  for (int32_t q = 0; q < 256; ++q) {
    probe.gain[0] = q;
    twinvq::DecodeGains(setup, probe, gains);
    levelGain_[q] = gains[0][0];
  }
  probe.windowType = 2;
  probe.gain[0] = 255;
  for (int32_t r = 0; r < 32; ++r) {
    probe.subGain[0][0] = r;
    twinvq::DecodeGains(setup, probe, gains);
    subGain_[r] = static_cast<float>(gains[0][0] / (levelGain_[255] / 1024.0));
  }
  for (int32_t q = 0; q < 256; ++q) logLevelGain_[q] = SafeLog(levelGain_[q]);
  for (int32_t r = 0; r < 32; ++r) logSubGain_[r] = SafeLog(subGain_[r]);
  for (int32_t q = 0; q < (1 << setup.mode().peakGainBits) && q < 256; ++q) {
    logPeakGain_[q] = SafeLog(twinvq::PeakGain(setup, q));
  }
  const int32_t periods = 1 << setup.mode().peakPeriodBits;
  peakBins_.resize(size_t(periods) * twinvq::kMaxPeakShapeLength);
  peakPower_.resize(size_t(n_) + 1);
  for (int32_t q = 0; q < periods; ++q) {
    twinvq::PeakBins(setup, q, peakBins_.data() + size_t(q) * twinvq::kMaxPeakShapeLength);
  }
  for (int32_t k = 0; k < 4; ++k) {
    const twinvq::VectorPart& p = setup.part(static_cast<twinvq::BlockKind>(k));
    for (int32_t b = 0; b < 2; ++b) {
      columns_[k][b].resize(p.paddedBook[b].size());
      TransposeBook(p.paddedBook[b].data(), p.paddedStride, columns_[k][b].data());
    }
  }
  for (int32_t k = 0; k < 3; ++k) {
    const twinvq::BlockTables& b = setup.mode().block[k];
    const int32_t values = (b.bandCount / b.barkValues) << b.barkBits;
    barkPlainLog_[k].resize(values);
    barkHistoryLog_.resize(std::max(barkHistoryLog_.size(), size_t(values) * b.barkValues));
    for (int32_t i = 0; i < values; ++i) barkPlainLog_[k][i] = BarkStepLog(b.barkCodebook[i] / 4096.0 + 1.0);
  }
  // RMS of a decoded main vector value (signs make the two books' values uncorrelated).
  for (int32_t k = 0; k < 3; ++k) {
    const twinvq::VectorPart& p = setup.part(static_cast<twinvq::BlockKind>(k));
    double sum = 0.0;
    for (int32_t b = 0; b < 2; ++b) {
      double s = 0.0;
      for (int32_t i = 0; i < 64 * p.codebookStride; ++i) s += double(p.codebook[b][i]) * p.codebook[b][i];
      sum += s / (64 * p.codebookStride);
    }
    codebookRms_[k] = std::sqrt(sum);
  }
}

const float* FrameEncoder::Window(int32_t bs, int32_t left, int32_t right) {
  for (const CachedWindow& w : windows_) {
    if (w.size == bs && w.left == left && w.right == right) return w.values.data();
  }
  windows_.push_back(CachedWindow{bs, left, right, std::vector<float>(2 * bs)});
  BuildBlockWindow(bs, left, right, windows_.back().values.data());
  return windows_.back().values.data();
}

void FrameEncoder::Transform(FrameKind kind, int32_t firstOverlap, int32_t lastOverlap) {
  const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  const int32_t inner = sizes_.InnerOverlap(kind);
  std::vector<float>& x = scratch_;
  for (int32_t c = 0; c < channels_; ++c) {
    for (int32_t s = 0; s < sub; ++s) {
      const int32_t left = s == 0 ? firstOverlap : inner;
      const int32_t right = s == sub - 1 ? lastOverlap : inner;
      const float* window = Window(bs, left, right);
      const float* span = input_[c].data() + n_ / 2 + s * bs - bs / 2;
      for (int32_t i = 0; i < 2 * bs; ++i) x[i] = span[i] * window[i];
      float* out = spectrum_.data() + c * n_ + s * bs;
      mdct_[kind]->Forward(x.data(), out);
    }
  }
  // Nothing above the coded bandwidth: the envelopes then fall there, and so does the noise.
  for (int32_t s = 0; s < sub && limitBandwidth_; ++s) {
    float* blocks[2] = {spectrum_.data() + s * bs, spectrum_.data() + n_ + s * bs};
    limiters_[kind]->Apply(blocks, channels_);
  }
}

void FrameEncoder::BuildAmplitudes(FrameKind kind, const twinvq::FrameValues& values) {
  float gains[twinvq::kMaxChannels][twinvq::kMaxSubBlocks];
  twinvq::DecodeGains(setup_, values, gains);
  BuildAmplitudesAt(kind, gains);
}

void FrameEncoder::BuildAmplitudesAt(FrameKind kind, const float (*gains)[twinvq::kMaxSubBlocks]) {
  const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  for (int32_t ch = 0; ch < channels_; ++ch) {
    for (int32_t s = 0; s < sub; ++s) {
      // Distinct arrays: the loop runs a vector of bins at a time.
      const int32_t first = ch * n_ + s * bs;
      const float* __restrict shape = barkShape_.data() + first;
      const float* __restrict envelope = lpcEnvelope_[ch].data();
      const float* __restrict spectrum = spectrum_.data() + first;
      const float* __restrict peaks = peaks_.data() + first;
      const float* __restrict noise = noiseWeight_.data() + s * bs;
      float* __restrict amplitude = amplitude_.data() + first;
      float* __restrict target = target_.data() + first;
      float* __restrict weight = weight_.data() + first;
      const float gain = gains[ch][s];
      for (int32_t k = 0; k < bs; ++k) {
        const float a = shape[k] * gain * envelope[k];
        amplitude[k] = a;
        const float wanted = spectrum[k] - peaks[k] * envelope[k];
        // Not a number and infinity fail the second test; an unusable bin divides by one, so
        // that the vector of bins divides by no zero.
        const float magnitude = std::fabs(a);
        const bool usable = (magnitude > 1.0e-30f) & (magnitude <= FLT_MAX);
        const float quotient = wanted / (usable ? a : 1.0f), power = a * a * noise[k];
        target[k] = usable ? quotient : 0.0f;
        weight[k] = usable ? power : 0.0f;
      }
    }
  }
}

Codebook FrameEncoder::BookOf(int32_t part, int32_t b, int32_t pair) const {
  const twinvq::VectorPart& p = setup_.part(static_cast<twinvq::BlockKind>(part));
  return Codebook{p.paddedBook[b].data(), columns_[part][b].data(), p.paddedStride,
                  b == 0 ? p.FirstBits(pair) : p.SecondBits(pair)};
}

// A long frame's target and weights scale with each channel's one gain g: w t by g, w by
// g^2. The statistics of every main vector are summed here once per frame per channel at
// unit gain, and each gain the scan tries scales them (QuantizeMain) instead of summing
// them again.
void FrameEncoder::PrepareUnitGainStats() {
  float unit[twinvq::kMaxChannels][twinvq::kMaxSubBlocks];
  for (auto& channel : unit) std::fill(channel, channel + twinvq::kMaxSubBlocks, 1.0f);
  BuildAmplitudesAt(kLong, unit);
  const twinvq::VectorPart& p = setup_.part(twinvq::kLongBlock);
  unitGainStats_.resize(size_t(p.pairs) * 2 * channels_);
  int32_t offset = 0;
  float wt[kMaxVectorLength], w[kMaxVectorLength];
  int32_t rows[kMaxVectorLength];
  for (int32_t i = 0; i < p.pairs; ++i) {
    const int32_t length = p.VectorLength(i);
    for (int32_t ch = 0; ch < channels_; ++ch) {
      // This channel's values; the other's weigh nothing and are left out of the sums.
      int32_t count = 0;
      for (int32_t j = 0; j < length; ++j) {
        const int32_t slot = p.destination[offset + j];
        if (slot / n_ != ch) continue;
        rows[count] = j;
        w[count] = weight_[slot];
        wt[count++] = weight_[slot] * target_[slot];
      }
      for (int32_t b = 0; b < 2; ++b) {
        ComputeVqStats(BookOf(kLong, b, i), wt, w, count, &unitGainStats_[(size_t(i) * 2 + b) * channels_ + ch], rows);
      }
    }
    offset += length;
  }
  unitGainFrame_ = true;
}

double FrameEncoder::QuantizeMain(FrameKind kind, const twinvq::FrameValues& values,
                                  int32_t preselect, twinvq::FrameValues* out) {
  BuildAmplitudes(kind, values);
  const twinvq::VectorPart& p = setup_.part(static_cast<twinvq::BlockKind>(kind));
  const bool scaled = kind == kLong && unitGainFrame_;
  float gains[twinvq::kMaxChannels][twinvq::kMaxSubBlocks];
  float channelGain[twinvq::kMaxChannels] = {};
  if (scaled) {
    twinvq::DecodeGains(setup_, values, gains);
    for (int32_t ch = 0; ch < channels_; ++ch) channelGain[ch] = gains[ch][0];
  }
  double total = 0.0;
  int32_t offset = 0;
  float t[kMaxVectorLength], w[kMaxVectorLength];
  VqStats given[2];
  for (int32_t i = 0; i < p.pairs; ++i) {
    const int32_t length = p.VectorLength(i);
    const int32_t start = offset;
    offset += length;
    for (int32_t j = 0; j < length; ++j) {
      const int32_t slot = p.destination[start + j];
      t[j] = target_[slot];
      w[j] = weight_[slot];
    }
    if (scaled) {
      for (int32_t b = 0; b < 2; ++b) {
        ScaleVqStats(&unitGainStats_[(size_t(i) * 2 + b) * channels_], channelGain, channels_, &given[b]);
      }
    }
    const VqChoice choice = SearchVq(BookOf(kind, 0, i), BookOf(kind, 1, i), t, w, length, preselect,
                                     vqScratch_.get(), scaled ? given : nullptr);
    out->main[i][0] = choice.field0;
    out->main[i][1] = choice.field1;
    total += choice.error;
  }
  return total;
}

// Everything after the transform: envelopes, peak component, gains and the main VQ. The
// LSP and bark histories move on; KeepWithinFullScale may take the frame back and redo it.
void FrameEncoder::QuantizeFrame(FrameKind kind, twinvq::FrameValues* values) {
  for (int32_t ch = 0; ch < channels_; ++ch) {
    QuantizeLsp(ch, kind, values);
    QuantizeBark(ch, kind, values);
  }

  // Peak component of long frames; the main VQ codes what it leaves.
  std::fill(peaks_.begin(), peaks_.end(), 0.0f);
  if (kind == kLong) {
    QuantizePeaks(values);
    float shape[twinvq::kMaxChannels * 64];
    twinvq::DequantizePart(setup_, twinvq::kPeakPart, values->peak, shape);
    for (int32_t ch = 0; ch < channels_; ++ch) {
      twinvq::AddPeaks(setup_, values->peakPeriod[ch], values->peakGain[ch],
                       shape + ch * setup_.mode().peakShapeLength, peaks_.data() + ch * n_);
    }
  }

  // Level-matched gains: the flattened spectrum's RMS over the codebook's.
  const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  for (int32_t ch = 0; ch < channels_; ++ch) {
    for (int32_t s = 0; s < sub; ++s) {
      double e = 0.0;
      for (int32_t k = 0; k < bs; ++k) {
        const int32_t at = ch * n_ + s * bs + k;
        const double a = double(barkShape_[at]) * lpcEnvelope_[ch][k];
        const double rest = spectrum_[at] - double(peaks_[at]) * lpcEnvelope_[ch][k];
        const double y = std::fabs(a) > 1.0e-30 ? rest / a : 0.0;
        e += y * y;
      }
      wantedGain_[ch][s] = std::sqrt(e / bs) / codebookRms_[kind] + 1.0e-30;
    }
  }
  BuildThreshold(kind);
  unitGainFrame_ = false;
  if (kind == kLong) PrepareUnitGainStats();
  // Scale factors that quantise to gains already tried give the same error again: the
  // errors are kept per set of gain indices.
  twinvq::FrameValues trial = *values;
  struct Tried {
    int32_t gains[twinvq::kMaxChannels * (twinvq::kMaxSubBlocks + 1)];
    double error;
  };
  Tried tried[16];
  int32_t triedCount = 0;
  auto errorAt = [&](int32_t i) {
    QuantizeGains(kind, std::pow(2.0, i * kScanStep), &trial);
    Tried now;
    int32_t fields = 0;
    for (int32_t ch = 0; ch < channels_; ++ch) {
      now.gains[fields++] = trial.gain[ch];
      if (kind != kLong) {
        for (int32_t s = 0; s < sub; ++s) now.gains[fields++] = trial.subGain[ch][s];
      }
    }
    for (int32_t k = 0; k < triedCount; ++k) {
      if (std::equal(now.gains, now.gains + fields, tried[k].gains)) return tried[k].error;
    }
    now.error = QuantizeMain(kind, trial, kScanPreselect, &trial);
    if (triedCount < 16) tried[triedCount++] = now;
    return now.error;
  };
  // Climb from the previous frame's best offset (the error is one-valleyed in the offset,
  // and steady sound keeps it): in steps of 3 while a neighbour is better, then of 1.
  int32_t best = std::min(std::max(scanStart_, kGainScanFrom), kGainScanTo);
  double bestError = errorAt(best);
  for (int32_t step : {3, 1}) {
    for (int32_t direction : {1, -1}) {
      bool moved = false;
      for (int32_t i = best + direction * step; i >= kGainScanFrom && i <= kGainScanTo;
           i += direction * step) {
        const double error = errorAt(i);
        if (!(error < bestError)) break;
        bestError = error;
        best = i;
        moved = true;
      }
      if (moved) break;  // the other side was worse before the climb began
    }
  }
  scanStart_ = best;
  QuantizeGains(kind, std::pow(2.0, best * kScanStep), values);
  QuantizeMain(kind, *values, kFinalPreselect[kind], values);
  unitGainFrame_ = false;
  RefineGains(kind, values);
}

// The decoder's output must stay within full scale, or every 16-bit decode clips (a
// full-scale square comes out at about 1.4 times full scale). The frame is decoded as a
// player will; this frame's own overlap comes out with the next frame, so that part is
// judged by decoding the frame once more after itself, as a steady signal continues. Where
// the output goes beyond, the frame is quantised again from its spectrum scaled down by the
// excess: the gains alone cannot do it, since the bark envelope and its history follow the
// gain. A few tries at most: the overlap the previous frame left is fixed by now.
void FrameEncoder::KeepWithinFullScale(FrameKind kind, twinvq::FrameValues* values) {
  constexpr float kFullScale = 32767.0f / 32768.0f;
  auto decodedPeak = [&] {
    decoded_.DecodeSpectrum(*values, decodedSpectrum_.data());
    float peak = 0.0f;
    decoded_.Synthesize(values->windowType, decodedSpectrum_.data(), decodedOutput_.data());
    for (float v : decodedOutput_) peak = std::max(peak, std::fabs(v));
    // A guess at the next frame, which leaves the overlap the frame before left intact for
    // another try at this one.
    decoded_.SynthesizeAhead(WindowTypeCode(kind, kind), decodedSpectrum_.data(), decodedOutput_.data());
    for (float v : decodedOutput_) peak = std::max(peak, std::fabs(v));
    return peak;
  };
  const float firstPeak = decodedPeak();
  float peak = firstPeak, scale = kFullScale / firstPeak, applied = 1.0f;
  for (int32_t attempt = 0; attempt < kPeakAttempts && peak > kFullScale; ++attempt) {
    decoded_.UndoFrame();
    std::memcpy(barkHistory_, barkBefore_, sizeof barkHistory_);
    std::memcpy(lspHistory_, lspBefore_, sizeof lspHistory_);
    // Quantised again, the frame's noise differs: each further try a margin lower, from
    // the spectrum as it came.
    for (float& x : spectrum_) x *= scale / applied;
    applied = scale;
    scale *= kPeakMargin;
    const int32_t windowType = values->windowType;
    *values = twinvq::FrameValues{};
    values->windowType = windowType;
    QuantizeFrame(kind, values);
    peak = decodedPeak();
  }
}

void FrameEncoder::Reset() {
  for (int32_t c = 0; c < 2; ++c) {
    input_[c].assign(3 * n_, 0.0f);
    lpcEnvelope_[c].assign(n_, 1.0f);
  }
  spectrum_.assign(2 * n_, 0.0f);
  barkShape_.assign(2 * n_, 1.0f);
  amplitude_.assign(2 * n_, 1.0f);
  peaks_.assign(2 * n_, 0.0f);
  target_.assign(2 * n_, 0.0f);
  weight_.assign(2 * n_, 0.0f);
  scratch_.assign(2 * n_, 0.0f);
  trialSpectrum_.assign(2 * n_, 0.0f);
  trialPowers_.assign(4 * n_, 0.0f);
  threshold_.assign(n_, 1.0f);
  noiseWeight_.assign(n_, 1.0f);
  powerBases_.assign(2 * size_t(n_), 0.0);
  carried_.assign(n_, 0.0f);
  emptyBins_.assign(n_, 0);
  carriedSize_ = 0;
  trialThreshold_.assign(n_, 1.0f);

  // The decoder's starting state: histories at zero but for three short-block bark values.
  std::memset(barkHistory_, 0, sizeof barkHistory_);
  for (int32_t i = 0; i < 3; ++i) barkHistory_[kShort][0][i] = 0.1f;
  std::memset(lspHistory_, 0, sizeof lspHistory_);
  previousKind_ = currentKind_ = kLong;
  scanStart_ = 0;
  decoded_.Reset();
}

void FrameEncoder::Encode(const float* samples, twinvq::FrameValues* values) {
  // Append the new frame (coded channels) behind the two kept ones.
  for (int32_t c = 0; c < channels_; ++c) {
    std::copy(input_[c].begin() + n_, input_[c].end(), input_[c].begin());
  }
  const double half = std::sqrt(0.5);
  for (int32_t i = 0; i < n_; ++i) {
    if (channels_ == 2) {
      const double l = CleanSample(samples[i]), r = CleanSample(samples[n_ + i]);
      input_[0][2 * n_ + i] = static_cast<float>((l + r) * half);
      input_[1][2 * n_ + i] = static_cast<float>((l - r) * half);
    } else {
      input_[0][2 * n_ + i] = CleanSample(samples[i]);
    }
  }
  const float* spans[2] = {input_[0].data() + n_, input_[1].data() + n_};
  // Below 44.1 kHz the plain detector's short blocks stay (speech's onsets need them there)
  // and the high-passed one's are added: it finds a drum over a loud bass, which the plain
  // one misses (the band clip at 22/24: before a hit, 20-30 dB of noise over the signal for
  // 35 ms, PEAQ's noise-to-mask ratio 24.7 dB; with both 6.3 dB).
  FrameKind detected = ChooseFrameKind(sizes_, spans, channels_, attackTuned_);
  if (!attackTuned_) detected = std::min(detected, ChooseFrameKind(sizes_, spans, channels_, true));
  const FrameKind next = ChooseNextKind(detected);
  const FrameKind kind = currentKind_;
  *values = twinvq::FrameValues{};
  values->windowType = WindowTypeCode(previousKind_, kind);
  Transform(kind, StartOverlap(sizes_, previousKind_, kind), StartOverlap(sizes_, kind, next));

  std::memcpy(barkBefore_, barkHistory_, sizeof barkHistory_);
  std::memcpy(lspBefore_, lspHistory_, sizeof lspHistory_);
  QuantizeFrame(kind, values);
  KeepWithinFullScale(kind, values);

  const int32_t bs = sizes_.Block(kind);
  std::copy(threshold_.end() - bs, threshold_.end(), carried_.begin());
  carriedSize_ = bs;
  previousKind_ = kind;
  currentKind_ = next;
}

}  // namespace tvqenc
