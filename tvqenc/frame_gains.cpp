// The gains: level matching for a scale factor, and the refinement for the chosen vectors.
#include "frame_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame_stages.h"

namespace tvqenc {

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

}  // namespace tvqenc
