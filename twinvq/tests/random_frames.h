// Frames of random in-range values for the tests.
#pragma once

#include <random>

#include "frame_values.h"
#include "stream_setup.h"

namespace twinvq_test {

inline int32_t RandomField(std::mt19937& rng, int32_t bits) {
  return static_cast<int32_t>(rng() & ((1u << bits) - 1));
}

// Every field random within its width; gains up to maxGain (the loudest frames are far
// beyond full scale).
inline twinvq::FrameValues RandomFrame(const twinvq::StreamSetup& setup, int32_t windowType,
                                       std::mt19937& rng, int32_t maxGain = 255) {
  using namespace twinvq;
  FrameValues v;
  v.windowType = windowType;
  const BlockKind kind = v.kind();
  const RateMode& m = setup.mode();
  const BlockTables& b = m.block[kind];
  const VectorPart& main = setup.part(kind);
  for (int32_t i = 0; i < main.pairs; ++i) {
    v.main[i][0] = RandomField(rng, main.FirstBits(i));
    v.main[i][1] = RandomField(rng, main.SecondBits(i));
  }
  for (int32_t ch = 0; ch < setup.channels(); ++ch) {
    for (int32_t s = 0; s < b.subBlocks; ++s) {
      for (int32_t k = 0; k < b.barkValues; ++k) v.bark[ch][s][k] = RandomField(rng, b.barkBits);
      v.barkHistory[ch][s] = RandomField(rng, 1);
      if (kind != kLongBlock) v.subGain[ch][s] = RandomField(rng, kSubGainBits);
    }
    v.gain[ch] = static_cast<int32_t>(rng() % (maxGain + 1));
    v.lspHistory[ch] = RandomField(rng, m.lsp0Bits);
    v.lspFirst[ch] = RandomField(rng, m.lsp1Bits);
    for (int32_t s = 0; s < m.lspSplits; ++s) v.lspSecond[ch][s] = RandomField(rng, m.lsp2Bits);
    if (kind == kLongBlock) {
      v.peakPeriod[ch] = RandomField(rng, m.peakPeriodBits);
      v.peakGain[ch] = RandomField(rng, m.peakGainBits);
    }
  }
  if (kind == kLongBlock) {
    const VectorPart& peak = setup.part(kPeakPart);
    for (int32_t i = 0; i < peak.pairs; ++i) {
      v.peak[i][0] = RandomField(rng, peak.FirstBits(i));
      v.peak[i][1] = RandomField(rng, peak.SecondBits(i));
    }
  }
  return v;
}

}  // namespace twinvq_test
