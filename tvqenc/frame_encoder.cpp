// The frame loop of the encoder and its quantisers.
#include "frame_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "lpc.h"
#include "natural_log.h"
#include "vq_search.h"

namespace tvqenc {

namespace {

constexpr float kInputLimit = 65536.0f;  // twice full scale; beyond it input is clipped
// LPC analysis: Gaussian lag window (radians per lag) and bandwidth expansion.
constexpr double kLagWindow = 0.03;
constexpr double kBandwidthExpansion = 1.0;
constexpr int32_t kLspFirstCandidates = 4;
constexpr int32_t kStrongLines = 4;  // lines scored beside the LSP fit's coarse grid
// Gain scan: scale factors 2^(i kScanStep) tried on the level-matched gains, with a quick VQ.
constexpr int32_t kGainScanFrom = -12, kGainScanTo = 12;
constexpr double kScanStep = 0.25;
constexpr int32_t kScanPreselect = 8;
constexpr int32_t kFinalPreselect = 24;
// Block kind choice: the share of a frame's coefficient bits an ideal coder is granted
// (the real quantisers are far from ideal; half matched the coded results best).
constexpr double kIdealBitShare = 0.5;
// Post-masking: a sub-block's threshold carries into the next ones, falling this fast.
constexpr double kPostMaskingDbPerMs = 0.3;
// Noise is weighed against the threshold raised to this power, a compressed mask: the
// quantiser's noise sits at a roughly fixed depth under the envelope it codes against, and
// weighed against the full mask, bins whose threshold it cannot reach (a line's far skirts,
// the envelope's floor) draw the effort away from the lines themselves, which then lose
// their accuracy (a steady tone: 45 -> 22 dB SNR for no gain heard).
constexpr double kMaskDepth = 0.65;
// Block choice: a medium sub-block this far under the others' mean threshold is a quiet
// stretch a long block's noise would be heard in; closer, it is the ordinary unevenness of
// steady sound, and the long block is judged by the mean (by the least, steady noise went
// medium in 21 frames of 24).
constexpr float kPreEchoDrop = 0.125f;
// Decoded peak: tries at quantising a frame again, and the margin after the first.
constexpr int32_t kPeakAttempts = 4;
constexpr float kPeakMargin = 0.95f;

// The LSP fit's grid: every step-th bin from the middle of the first step, the step giving
// 128 points a block.
int32_t LspGridStep(int32_t blockSize) { return std::max<int32_t>(1, blockSize / 128); }

// The grid points' weights in the LSP fit: one over the square root of their bark band's
// count. Per grid point the widest top bands would decide the fit, and with every band alike
// a tone at the top of the spectrum is fitted too loosely.
std::vector<double> LspGridWeights(const twinvq::BlockTables& bands, int32_t blockSize) {
  const int32_t step = LspGridStep(blockSize);
  std::vector<int32_t> bandOf, count(bands.bandCount + 1, 0);
  int32_t band = 0, end = bands.bandCount > 0 ? bands.bandWidths[0] : blockSize;
  for (int32_t k = step / 2; k < blockSize; k += step) {
    while (k >= end && band < bands.bandCount) {
      ++band;
      end += band < bands.bandCount ? bands.bandWidths[band] : blockSize;
    }
    bandOf.push_back(band);
    ++count[band];
  }
  std::vector<double> weights;
  for (int32_t b : bandOf) weights.push_back(1.0 / std::sqrt(double(count[b])));
  return weights;
}

float CleanSample(float v) {
  if (!(v == v)) return 0.0f;
  return std::min(std::max(v, -kInputLimit), kInputLimit);
}

double SafeLog(double v) { return NaturalLog(std::max(std::fabs(v), 1.0e-30)); }

}  // namespace

FrameEncoder::FrameEncoder(const twinvq::StreamSetup& setup)
    : setup_(setup), channels_(setup.channels()), n_(setup.frameSize()),
      lsfFinder_(setup.mode().lspOrder), decoded_(setup) {
  sizes_.frame = n_;
  decodedSpectrum_.assign(size_t(channels_) * n_, 0.0f);
  decodedOutput_.assign(size_t(channels_) * n_, 0.0f);
  for (int32_t k = 0; k < 3; ++k) {
    sizes_.subBlocks[k] = setup.subBlocks(static_cast<twinvq::BlockKind>(k));
    mdct_[k] = std::make_unique<Mdct>(sizes_.Block(static_cast<FrameKind>(k)));
    binCos_[k] = BinCosines(sizes_.Block(static_cast<FrameKind>(k)));
    gridWeight_[k] = LspGridWeights(setup.mode().block[k], sizes_.Block(static_cast<FrameKind>(k)));
    const twinvq::BlockTables& b = setup.mode().block[k];
    limiters_[k] = std::make_unique<BandLimiter>(
        CodedBandwidthHz(setup.mode().kHzCode, setup.mode().kbpsPerChannel), setup.mode().realHz,
        sizes_.Block(static_cast<FrameKind>(k)));
    masks_[k] = std::make_unique<MaskModel>(setup.mode().realHz, sizes_.Block(static_cast<FrameKind>(k)),
                                            b.bandWidths, b.bandCount);
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
  for (int32_t k = 0; k < 4; ++k) {
    const twinvq::VectorPart& p = setup.part(static_cast<twinvq::BlockKind>(k));
    for (int32_t b = 0; b < 2; ++b) {
      books_[k][b].assign(p.codebook[b], p.codebook[b] + 64 * p.codebookStride);
      columns_[k][b].resize(books_[k][b].size());
      TransposeBook(books_[k][b].data(), p.codebookStride, columns_[k][b].data());
    }
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

void FrameEncoder::QuantizeLsp(int32_t ch, FrameKind kind, twinvq::FrameValues* values) {
  const twinvq::RateMode& m = setup_.mode();
  const int32_t order = m.lspOrder, bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  const auto bkind = static_cast<twinvq::BlockKind>(kind);

  // Power spectrum over the frame's sub-blocks, with a floor far below its mean. The one
  // envelope serves every sub-block: summed as they are, the loudest (an attack) would
  // shape the noise of the quiet ones before it. Each sub-block's spectrum is divided by the
  // square root of its energy, halfway to all alike (dividing by the whole energy takes
  // the shape of a voice's quiet sub-blocks' noise), then the sum is brought back to the
  // frame's mean power, where the floor below is set.
  std::vector<double> power(bs, 0.0);
  double mean = 0.0, plain = 0.0, balanced = 0.0;
  for (int32_t s = 0; s < sub; ++s) {
    const float* x = spectrum_.data() + ch * n_ + s * bs;
    double energy = 0.0;
    for (int32_t k = 0; k < bs; ++k) energy += double(x[k]) * x[k];
    const double scale = sub > 1 ? 1.0 / std::sqrt(energy + 1.0e-3) : 1.0;
    for (int32_t k = 0; k < bs; ++k) power[k] += double(x[k]) * x[k] * scale;
    plain += energy / sub;
    balanced += energy * scale;
  }
  if (balanced > 0.0) {
    for (double& p : power) p *= plain / balanced;
  }
  for (double p : power) mean += p / bs;
  for (double& p : power) p += 1.0e-9 * mean + 1.0e-3;
  double r[kMaxLpcOrder + 1], a[kMaxLpcOrder + 1], lsf[kMaxLpcOrder];
  AutocorrelationFromPower(power.data(), binCos_[kind].data(), bs, order, r);
  LpcFromAutocorrelation(r, order, kLagWindow, kBandwidthExpansion, a);
  lsfFinder_.Find(a, lsf);

  // The wanted envelope's shape in the log domain on a coarse grid and, in long frames, at
  // the strongest lines: a tone's line falls between grid points, and an envelope that sits
  // low under it leaves the line beyond the peak component's reach.
  const int32_t gridStep = LspGridStep(bs);
  std::vector<int32_t> gridBins;
  for (int32_t k = gridStep / 2; k < bs; k += gridStep) gridBins.push_back(k);
  const size_t regular = gridBins.size();
  if (gridStep > 1 && kind == kLong) {
    std::vector<std::pair<double, int32_t>> strongest(bs);
    for (int32_t k = 0; k < bs; ++k) strongest[k] = {-power[k], k};
    std::partial_sort(strongest.begin(), strongest.begin() + kStrongLines, strongest.end());
    for (int32_t i = 0; i < kStrongLines; ++i) gridBins.push_back(strongest[i].second);
  }
  const std::vector<double>& gridWeight = gridWeight_[kind];
  double twoCos[kMaxLpcOrder];
  for (int32_t i = 0; i < order; ++i) twoCos[i] = 2.0 * std::cos(lsf[i]);
  std::vector<double> wanted;
  for (int32_t k : gridBins) {
    const double c = 2.0 * binCos_[kind][k];
    wanted.push_back(SafeLog(LsfEnvelopeFromCosines(twoCos, order, c)));
  }

  const int32_t firstCount = 1 << m.lsp1Bits, secondCount = 1 << m.lsp2Bits;
  const int16_t* first = m.lspCodebook;
  const int16_t* second = first + firstCount * order;
  const int16_t* weights = second + secondCount * order;

  double bestScore = HUGE_VAL;
  int32_t bestHistory = 0, bestFirst = 0, bestSecond[twinvq::kMaxLspSplits] = {0};
  std::vector<float> envelope(bs);
  for (int32_t h = 0; h < (1 << m.lsp0Bits); ++h) {
    // The vector before history blending that would give the wanted LSFs.
    double goal[kMaxLpcOrder];
    for (int32_t i = 0; i < order; ++i) {
      const double w = weights[h * order + i] / 10000.0;
      goal[i] = (lsf[i] - w * lspHistory_[ch][i]) / std::max(1.0 - w, 1.0e-3);
    }
    std::vector<std::pair<double, int32_t>> ranked(firstCount);
    for (int32_t e = 0; e < firstCount; ++e) {
      double d = 0.0;
      for (int32_t i = 0; i < order; ++i) {
        const double diff = goal[i] - first[e * order + i] / 10000.0;
        d += diff * diff;
      }
      ranked[e] = {d, e};
    }
    std::partial_sort(ranked.begin(), ranked.begin() + kLspFirstCandidates, ranked.end());
    for (int32_t c = 0; c < kLspFirstCandidates; ++c) {
      const int32_t e = ranked[c].second;
      int32_t split[twinvq::kMaxLspSplits];
      int32_t j = 0;
      for (int32_t s = 0; s < m.lspSplits; ++s) {
        const int32_t end = twinvq::LspSplitEnd(m, s);
        double best = HUGE_VAL;
        split[s] = 0;
        for (int32_t q = 0; q < secondCount; ++q) {
          double d = 0.0;
          for (int32_t i = j; i < end; ++i) {
            const double diff = goal[i] - (first[e * order + i] + second[q * order + i]) / 10000.0;
            d += diff * diff;
          }
          if (d < best) {
            best = d;
            split[s] = q;
          }
        }
        j = end;
      }
      // Score by the decoded envelope's shape against the wanted one.
      float history[twinvq::kMaxLspOrder], decoded[twinvq::kMaxLspOrder];
      std::memcpy(history, lspHistory_[ch], sizeof history);
      twinvq::DecodeLsp(setup_, h, e, split, history, decoded);
      twinvq::LpcEnvelope(setup_, bkind, decoded, envelope.data());
      // The grid's variance of the log difference, plus the squared shortfall at each
      // strong line below the grid's mean offset (an envelope above the fit there costs
      // nothing: the gains take up the level).
      double sum = 0.0, sum2 = 0.0, count = 0.0;
      for (size_t i = 0; i < regular; ++i) {
        const double d = SafeLog(envelope[gridBins[i]]) - wanted[i];
        sum += gridWeight[i] * d;
        sum2 += gridWeight[i] * d * d;
        count += gridWeight[i];
      }
      double score = sum2 - sum * sum / count;
      for (size_t i = regular; i < gridBins.size(); ++i) {
        const double shortfall = SafeLog(envelope[gridBins[i]]) - wanted[i] - sum / count;
        if (shortfall < 0.0) score += shortfall * shortfall;
      }
      if (score < bestScore) {
        bestScore = score;
        bestHistory = h;
        bestFirst = e;
        std::copy(split, split + m.lspSplits, bestSecond);
      }
    }
  }
  values->lspHistory[ch] = bestHistory;
  values->lspFirst[ch] = bestFirst;
  std::copy(bestSecond, bestSecond + m.lspSplits, values->lspSecond[ch]);
  float decoded[twinvq::kMaxLspOrder];
  twinvq::DecodeLsp(setup_, bestHistory, bestFirst, bestSecond, lspHistory_[ch], decoded);
  twinvq::LpcEnvelope(setup_, bkind, decoded, lpcEnvelope_[ch].data());
}

void FrameEncoder::QuantizeBark(int32_t ch, FrameKind kind, twinvq::FrameValues* values) {
  const auto bkind = static_cast<twinvq::BlockKind>(kind);
  const twinvq::BlockTables& b = setup_.mode().block[kind];
  const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  const int32_t rows = b.bandCount / b.barkValues, entries = 1 << b.barkBits;
  const double blend = twinvq::BarkHistoryBlend(bkind);
  const float* envelope = lpcEnvelope_[ch].data();
  for (int32_t s = 0; s < sub; ++s) {
    const float* x = spectrum_.data() + ch * n_ + s * bs;
    // Band levels of the flattened spectrum relative to the whole sub-block's.
    double bandLog[twinvq::kMaxBands], total = 0.0;
    int32_t start = 0;
    for (int32_t band = 0; band < b.bandCount; ++band) {
      double e = 0.0;
      for (int32_t i = start; i < start + b.bandWidths[band]; ++i) {
        const double y = x[i] / envelope[i];
        e += y * y;
      }
      total += e;
      bandLog[band] = e / std::max<int32_t>(b.bandWidths[band], 1);
      start += b.bandWidths[band];
    }
    const double level = total / bs + 1.0e-30;
    for (int32_t band = 0; band < b.bandCount; ++band) {
      bandLog[band] = 0.5 * NaturalLog(std::max(bandLog[band] / level, 1.0e-6));
    }
    double bestError = HUGE_VAL;
    int32_t bestIndices[twinvq::kMaxBarkValues] = {0}, bestUse = 0;
    for (int32_t use = 0; use < 2; ++use) {
      double error = 0.0;
      int32_t indices[twinvq::kMaxBarkValues];
      for (int32_t j = 0; j < b.barkValues; ++j) {
        double best = HUGE_VAL;
        indices[j] = 0;
        for (int32_t q = 0; q < entries; ++q) {
          double e = 0.0;
          for (int32_t r = 0; r < rows; ++r) {
            const int32_t band = r * b.barkValues + j;
            const double c = b.barkCodebook[rows * q + r] / 4096.0;
            double st = use ? (1.0 - blend) * c + blend * barkHistory_[kind][ch][band] + 1.0 : c + 1.0;
            if (st < -1.0) st = 1.0;
            const double d = SafeLog(std::max(std::fabs(st), 1.0e-3)) - bandLog[band];
            e += d * d;  // each bark band alike, not each bin
          }
          if (e < best) {
            best = e;
            indices[j] = q;
          }
        }
        error += best;
      }
      if (error < bestError) {
        bestError = error;
        bestUse = use;
        std::copy(indices, indices + b.barkValues, bestIndices);
      }
    }
    std::copy(bestIndices, bestIndices + b.barkValues, values->bark[ch][s]);
    values->barkHistory[ch][s] = bestUse;
    twinvq::BarkEnvelope(setup_, bkind, bestIndices, bestUse != 0, 1.0f, barkHistory_[kind][ch],
                         barkShape_.data() + ch * n_ + s * bs);
  }
}

void FrameEncoder::QuantizeGains(FrameKind kind, double scale, twinvq::FrameValues* values) {
  const int32_t sub = sizes_.subBlocks[kind];
  for (int32_t ch = 0; ch < channels_; ++ch) {
    if (kind == kLong) {
      const double want = SafeLog(scale * wantedGain_[ch][0]);
      int32_t best = 0;
      for (int32_t q = 1; q < 256; ++q) {
        if (std::fabs(logLevelGain_[q] - want) < std::fabs(logLevelGain_[best] - want)) best = q;
      }
      values->gain[ch] = best;
      continue;
    }
    // The frame gain reaches the loudest sub-block with the largest sub-block factor; each
    // sub-block then takes the factor nearest its own level (quiet ones the smallest).
    double loudest = 0.0;
    for (int32_t s = 0; s < sub; ++s) loudest = std::max(loudest, scale * wantedGain_[ch][s]);
    int32_t q = 0;
    while (q < 255 && levelGain_[q] / 1024.0 * subGain_[31] < loudest) ++q;
    values->gain[ch] = q;
    const double base = logLevelGain_[q] - std::log(1024.0);
    for (int32_t s = 0; s < sub; ++s) {
      const double want = SafeLog(scale * wantedGain_[ch][s]);
      int32_t chosen = 0;
      for (int32_t r = 1; r < 32; ++r) {
        if (std::fabs(base + logSubGain_[r] - want) < std::fabs(base + logSubGain_[chosen] - want)) {
          chosen = r;
        }
      }
      values->subGain[ch][s] = chosen;
    }
  }
}

// Peak component of a long frame: per channel the period whose comb catches most of the
// flattened spectrum's energy, a gain matched to the caught values, then the shape by the
// weighted VQ over both channels' values (the decoder interleaves them).
void FrameEncoder::QuantizePeaks(twinvq::FrameValues* values) {
  const int32_t length = setup_.mode().peakShapeLength;
  const int32_t periods = 1 << setup_.mode().peakPeriodBits;
  const int32_t gains = 1 << setup_.mode().peakGainBits;
  int32_t bins[twinvq::kMaxPeakShapeLength];
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
    int32_t bestPeriod = 0;
    double bestCaught = -1.0;
    for (int32_t q = 0; q < periods; ++q) {
      twinvq::PeakBins(setup_, q, bins);
      double caught = 0.0;
      for (int32_t m = 0; m < length; ++m) {
        if (bins[m] >= 0) caught += double(x[bins[m]]) * x[bins[m]];
      }
      if (caught > bestCaught) {
        bestCaught = caught;
        bestPeriod = q;
      }
    }
    twinvq::PeakBins(setup_, bestPeriod, bins);
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
    const Codebook cb0{books_[twinvq::kPeakPart][0].data(), columns_[twinvq::kPeakPart][0].data(),
                       p.codebookStride, p.FirstBits(i)};
    const Codebook cb1{books_[twinvq::kPeakPart][1].data(), columns_[twinvq::kPeakPart][1].data(),
                       p.codebookStride, p.SecondBits(i)};
    const VqChoice choice = SearchVq(cb0, cb1, t, w, vectorLength, 0);
    values->peak[i][0] = choice.field0;
    values->peak[i][1] = choice.field1;
  }
}

// With the main vectors chosen, the decoded spectrum is linear in each gain: per channel
// and sub-block, X - E peaks ~ g u with u = E st (vectors). The gain indices are chosen
// again for the least weighted squared error (the main VQ's noise weights): the 8-bit index
// of a long frame from all 256; in short and medium frames the 5-bit factor of each
// sub-block, under every frame index from the one chosen down to where the loudest
// sub-block's largest factor falls short.
void FrameEncoder::RefineGains(FrameKind kind, twinvq::FrameValues* values) {
  const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  std::vector<float>& decoded = scratch_;
  twinvq::DequantizePart(setup_, static_cast<twinvq::BlockKind>(kind), values->main, decoded.data());
  for (int32_t ch = 0; ch < channels_; ++ch) {
    double ru[twinvq::kMaxSubBlocks], uu[twinvq::kMaxSubBlocks];
    for (int32_t s = 0; s < sub; ++s) {
      double a = 0.0, b = 0.0;
      for (int32_t k = 0; k < bs; ++k) {
        const int32_t at = ch * n_ + s * bs + k;
        const double e = lpcEnvelope_[ch][k];
        const double u = e * barkShape_[at] * decoded[at];
        const double r = spectrum_[at] - double(peaks_[at]) * e;
        const double w = noiseWeight_[s * bs + k];
        a += w * r * u;
        b += w * u * u;
      }
      ru[s] = a;
      uu[s] = b;
    }
    // Error change of gain g against none: g^2 uu - 2 g ru.
    auto cost = [&](int32_t s, double g) { return g * g * uu[s] - 2.0 * g * ru[s]; };
    if (kind == kLong) {
      int32_t best = values->gain[ch];
      for (int32_t q = 0; q < 256; ++q) {
        if (cost(0, levelGain_[q]) < cost(0, levelGain_[best])) best = q;
      }
      values->gain[ch] = best;
      continue;
    }
    double bestTotal = HUGE_VAL;
    int32_t bestQ = values->gain[ch], bestR[twinvq::kMaxSubBlocks];
    for (int32_t q = std::min(255, values->gain[ch] + 8); q >= 0 && q >= values->gain[ch] - 8; --q) {
      double total = 0.0;
      int32_t chosen[twinvq::kMaxSubBlocks];
      for (int32_t s = 0; s < sub; ++s) {
        chosen[s] = 0;
        double least = HUGE_VAL;
        for (int32_t r = 0; r < 32; ++r) {
          const double c = cost(s, twinvq::SubBlockGain(q, r));
          if (c < least) {
            least = c;
            chosen[s] = r;
          }
        }
        total += least;
      }
      if (total < bestTotal) {
        bestTotal = total;
        bestQ = q;
        std::copy(chosen, chosen + sub, bestR);
      }
    }
    values->gain[ch] = bestQ;
    std::copy(bestR, bestR + sub, values->subGain[ch]);
  }
}

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
      noiseWeight_[s * bs + k] = static_cast<float>(std::pow(double(threshold[k]), -kMaskDepth));
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

void FrameEncoder::BuildAmplitudes(FrameKind kind, const twinvq::FrameValues& values) {
  const int32_t bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  float gains[twinvq::kMaxChannels][twinvq::kMaxSubBlocks];
  twinvq::DecodeGains(setup_, values, gains);
  for (int32_t ch = 0; ch < channels_; ++ch) {
    for (int32_t s = 0; s < sub; ++s) {
      for (int32_t k = 0; k < bs; ++k) {
        const int32_t at = ch * n_ + s * bs + k;
        const float shaped = barkShape_[at] * gains[ch][s];
        amplitude_[at] = shaped * lpcEnvelope_[ch][k];
        const float a = amplitude_[at];
        const float wanted = spectrum_[at] - peaks_[at] * lpcEnvelope_[ch][k];
        const bool usable = std::fabs(a) > 1.0e-30f && std::isfinite(a);
        target_[at] = usable ? wanted / a : 0.0f;
        weight_[at] = usable ? a * a * noiseWeight_[s * bs + k] : 0.0f;
      }
    }
  }
}

double FrameEncoder::QuantizeMain(FrameKind kind, const twinvq::FrameValues& values,
                                  int32_t preselect, twinvq::FrameValues* out) {
  BuildAmplitudes(kind, values);
  const twinvq::VectorPart& p = setup_.part(static_cast<twinvq::BlockKind>(kind));
  double total = 0.0;
  int32_t offset = 0;
  float t[kMaxVectorLength], w[kMaxVectorLength];
  for (int32_t i = 0; i < p.pairs; ++i) {
    const int32_t length = p.VectorLength(i);
    const int32_t start = offset;
    offset += length;
    for (int32_t j = 0; j < length; ++j) {
      const int32_t slot = p.destination[start + j];
      t[j] = target_[slot];
      w[j] = weight_[slot];
    }
    const Codebook cb0{books_[kind][0].data(), columns_[kind][0].data(), p.codebookStride, p.FirstBits(i)};
    const Codebook cb1{books_[kind][1].data(), columns_[kind][1].data(), p.codebookStride, p.SecondBits(i)};
    const VqChoice choice = SearchVq(cb0, cb1, t, w, length, preselect);
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
  QuantizeMain(kind, *values, kFinalPreselect, values);
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
    for (int32_t pass = 0; pass < 2; ++pass) {
      decoded_.Synthesize(pass == 0 ? values->windowType : WindowTypeCode(kind, kind),
                          decodedSpectrum_.data(), decodedOutput_.data());
      for (float v : decodedOutput_) peak = std::max(peak, std::fabs(v));
    }
    decoded_.UndoSynthesis();  // the second pass was a guess at the next frame
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
  carried_.assign(n_, 0.0f);
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
  const FrameKind next = ChooseNextKind(ChooseFrameKind(sizes_, spans, channels_));
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
