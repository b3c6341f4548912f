// The LSP envelope: LPC of the frame's power spectrum (at 44.1 kHz mostly of its magnitude),
// quantised with both history choices and scored by the decoded envelope's fit.
#include "frame_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "frame_stages.h"
#include "lpc.h"

namespace tvqenc {

namespace {

// LPC analysis: Gaussian lag window (radians per lag) and bandwidth expansion.
constexpr double kLagWindow = 0.03;
constexpr double kBandwidthExpansion = 1.0;
constexpr int32_t kLspFirstCandidates = 4;
constexpr int32_t kStrongLines = 4;  // lines scored beside the LSP fit's coarse grid

// The envelope's fit: the decoder multiplies the coefficients by 1/|A|^2 itself, so an LPC
// fitted to the power spectrum gives an envelope twice as steep (in dB) as the signal's, which
// the bark envelope and the vectors must undo, and where a voice has nothing above 11 kHz they
// cannot: its decoded top sat 20-30 dB over the input's. Fitted to the magnitude in long
// frames and to the power^(3/4) in medium ones, the envelope follows the signal. PEAQ ODG at
// 44/48 stereo (band, speech, transients, piano, orchestra): with the power -3.10 -2.59 -2.21
// -3.08 -2.38; with these -3.14 -2.28 -2.18 -2.66 -2.34. The magnitude in medium frames too
// gives speech -2.08 but the piano -2.89; short frames keep the power (the band -3.25 at
// power^0.85). Square roots only: exact, the same in every build.
double FitPower(double p, FrameKind kind) {
  const double root = std::sqrt(p);
  return kind == kLong ? root : root * std::sqrt(root);
}

// A tonal frame, where the strongest kTonalLines bins carry more than kTonalShare of the
// power, keeps the power fit: its envelope's sharper peaks hold a lone tone's SNR (a 997 Hz
// sine at 44/48 stereo: 45.0 dB; 40.5 with every frame fitted to the magnitude, 43.6 with the
// share at 0.95, its onset frames then fitted so). Music's frames are mostly under it (the
// band clip's bass and the transients' held chord over it).
constexpr int32_t kTonalLines = 8;
constexpr double kTonalShare = 0.9;

// Whether the strongest kTonalLines of the power spectrum carry over kTonalShare of it.
bool Tonal(const std::vector<double>& power) {
  double strongest[kTonalLines];
  std::partial_sort_copy(power.begin(), power.end(), strongest, strongest + kTonalLines,
                         std::greater<double>());
  double top = 0.0, total = 0.0;
  for (double p : strongest) top += p;
  for (double p : power) total += p;
  return top > kTonalShare * total;
}

// The LSP fit's grid: every step-th bin from the middle of the first step, the step giving
// 128 points a block.
int32_t LspGridStep(int32_t blockSize) { return std::max<int32_t>(1, blockSize / 128); }

}  // namespace

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

void FrameEncoder::QuantizeLsp(int32_t ch, FrameKind kind, twinvq::FrameValues* values) {
  const twinvq::RateMode& m = setup_.mode();
  const int32_t order = m.lspOrder, bs = sizes_.Block(kind), sub = sizes_.subBlocks[kind];
  const auto bkind = static_cast<twinvq::BlockKind>(kind);

  // Power spectrum over the frame's sub-blocks, with a floor far below its mean. The one
  // envelope serves every sub-block: summed as they are, the loudest (an attack) would
  // shape the noise of the quiet ones before it. Each medium sub-block's spectrum is
  // divided by the square root of its energy, halfway to all alike (dividing by the whole
  // energy takes the shape of a voice's quiet sub-blocks' noise); short sub-blocks, a
  // click's or a drum's frame, are brought all alike (a chord before and after a click:
  // PEAQ DI -0.94 -> -0.78, the band unchanged). Then the sum is brought back to the
  // frame's mean power, where the floor below is set.
  std::vector<double> power(bs, 0.0);
  double mean = 0.0, plain = 0.0, balanced = 0.0;
  for (int32_t s = 0; s < sub; ++s) {
    const float* x = spectrum_.data() + ch * n_ + s * bs;
    double energy = 0.0;
    for (int32_t k = 0; k < bs; ++k) energy += double(x[k]) * x[k];
    const double scale = sub == 1 || !attackTuned_ ? 1.0
                         : kind == kShort ? 1.0 / (energy + 1.0e-3)
                                          : 1.0 / std::sqrt(energy + 1.0e-3);
    for (int32_t k = 0; k < bs; ++k) power[k] += double(x[k]) * x[k] * scale;
    plain += energy / sub;
    balanced += energy * scale;
  }
  if (balanced > 0.0) {
    for (double& p : power) p *= plain / balanced;
  }
  for (double p : power) mean += p / bs;
  for (double& p : power) p += 1.0e-9 * mean + 1.0e-3;
  if (magnitudeEnvelope_ && kind != kShort && !Tonal(power)) {
    for (double& p : power) p = FitPower(p, kind);
  }
  double r[kMaxLpcOrder + 1], a[kMaxLpcOrder + 1], lsf[kMaxLpcOrder];
  AutocorrelationFromRows(power.data(), binCosRows_[kind].data(), bs, order, r);
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

}  // namespace tvqenc
