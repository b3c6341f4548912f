// The bark envelope of each sub-block.
#include "frame_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame_stages.h"

namespace tvqenc {

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
    // With history: each band's step log for every entry (band-major), the logarithms
    // taken together.
    double* historyLog = barkHistoryLog_.data();
    for (int32_t band = 0; band < rows * b.barkValues; ++band) {
      const int32_t r = band / b.barkValues;
      for (int32_t q = 0; q < entries; ++q) {
        const double c = b.barkCodebook[rows * q + r] / 4096.0;
        historyLog[band * entries + q] =
            BarkStepMagnitude((1.0 - blend) * c + blend * barkHistory_[kind][ch][band] + 1.0);
      }
    }
    LogOfEach(historyLog, historyLog, rows * b.barkValues * entries);
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
            const double stepLog = use ? historyLog[band * entries + q] : barkPlainLog_[kind][rows * q + r];
            const double d = stepLog - bandLog[band];
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

}  // namespace tvqenc
