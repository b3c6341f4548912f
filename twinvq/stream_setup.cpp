// Derivation of a stream's layout, permutations, windows and cosine grids.
#include "stream_setup.h"

#include <cmath>

namespace twinvq {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Integer division rounded to nearest, halves away from zero.
int32_t RoundedDivide(int32_t a, int32_t b) { return (a > 0 ? a + b / 2 : a - b / 2) / b; }

// Splits count over parts: parts pieces, the first `big` of them one larger when the
// division is not even. Returns {big, larger size, smaller size}.
struct Split {
  int32_t big, larger, smaller;
};
Split SplitEvenly(int32_t count, int32_t parts) {
  const int32_t larger = (count + parts - 1) / parts;
  const int32_t smaller = count / parts;
  return {parts - (larger * parts - count), larger, smaller};
}

}  // namespace

BlockKind BlockKindOfWindowType(int32_t windowType) {
  static const BlockKind kKinds[kWindowTypeCount] = {
      kLongBlock, kLongBlock, kShortBlock, kLongBlock, kMediumBlock,
      kLongBlock, kLongBlock, kMediumBlock, kMediumBlock};
  return windowType >= 0 && windowType < kWindowTypeCount ? kKinds[windowType] : kLongBlock;
}

int32_t VectorPart::TotalBits() const {
  int32_t total = 0;
  for (int32_t i = 0; i < pairs; ++i) total += FirstBits(i) + SecondBits(i);
  return total;
}

bool StreamSetup::Init(int32_t kHzCode, int32_t kbpsPerChannel, int32_t channels) {
  const RateMode* mode = FindRateMode(kHzCode, kbpsPerChannel);
  if (!mode || channels < 1 || channels > kMaxChannels) return false;
  mode_ = mode;
  channels_ = channels;
  const int32_t n = mode->frameSize;
  frameBits_ = static_cast<int32_t>(int64_t{kbpsPerChannel} * channels * 1000 * n / mode->realHz);

  const int32_t lspBits = channels * (mode->lsp0Bits + mode->lsp1Bits +
                                      mode->lspSplits * mode->lsp2Bits);
  for (int32_t k = 0; k < 3; ++k) {
    const BlockTables& b = mode->block[k];
    const int32_t barkBits = channels * (b.barkValues * b.barkBits + 1);  // + history flag
    int32_t fixed = kWindowTypeBits + lspBits + channels * kGainBits;
    if (k == kLongBlock) {
      fixed += barkBits + channels * (mode->peakGainBits + mode->peakCodebookBits +
                                      mode->peakPeriodBits);
    } else {
      fixed += b.subBlocks * (barkBits + channels * kSubGainBits);
    }
    InitPart(static_cast<BlockKind>(k), frameBits_ - fixed);
  }
  InitPart(kPeakPart, channels * mode->peakCodebookBits);

  const int32_t windowSizes[3] = {n, n / mode->block[kMediumBlock].subBlocks,
                                  n / (2 * mode->block[kShortBlock].subBlocks)};
  for (int32_t w = 0; w < 3; ++w) {
    const int32_t size = windowSizes[w];
    windows_[w].resize(size);
    for (int32_t i = 0; i < size; ++i) {
      const float angle = static_cast<float>((i + 0.5) * (kPi / (2.0 * size)));
      windows_[w][i] = std::sin(angle);
    }
  }
  for (int32_t k = 0; k < 3; ++k) {
    const int32_t bs = blockSize(static_cast<BlockKind>(k));
    const double step = 2 * kPi / (4 * bs);
    cosines_[k].resize(bs / 2 + 1);
    for (int32_t j = 0; j <= bs / 2; ++j) {
      cosines_[k][j] = static_cast<float>(std::cos((2 * j + 1) * step));
    }
  }
  return true;
}

void StreamSetup::InitPart(BlockKind kind, int32_t bitCount) {
  VectorPart& p = parts_[kind];
  const RateMode& m = *mode_;
  const bool peak = kind == kPeakPart;
  const int32_t blocks = peak ? channels_ : channels_ * m.block[kind].subBlocks;
  const int32_t blockValues = peak ? m.peakShapeLength : m.frameSize / m.block[kind].subBlocks;
  const int32_t values = blocks * blockValues;

  p.pairs = (bitCount + 13) / 14;
  const Split bits = SplitEvenly(bitCount, p.pairs);
  p.widePairs = bits.big;
  p.bits[0][0] = (bits.larger + 1) / 2;
  p.bits[1][0] = bits.larger / 2;
  p.bits[0][1] = (bits.smaller + 1) / 2;
  p.bits[1][1] = bits.smaller / 2;
  const Split lengths = SplitEvenly(values, p.pairs);
  p.longVectors = lengths.big;
  p.length[0] = lengths.larger;
  p.length[1] = lengths.smaller;
  if (peak) {
    p.codebookStride = p.length[0];
    p.codebook[0] = m.peakCodebook;
    p.codebook[1] = m.peakCodebook + p.length[0] * 64;
  } else {
    p.codebookStride = m.block[kind].vqStride;
    p.codebook[0] = m.block[kind].vq[0];
    p.codebook[1] = m.block[kind].vq[1];
  }
  p.paddedStride = (p.codebookStride + 3) / 4 * 4;
  for (int32_t b = 0; b < 2; ++b) {
    p.paddedBook[b].assign(size_t(64) * p.paddedStride, 0.0f);
    for (int32_t entry = 0; entry < 64; ++entry) {
      for (int32_t e = 0; e < p.codebookStride; ++e) {
        p.paddedBook[b][entry * p.paddedStride + e] = p.codebook[b][entry * p.codebookStride + e];
      }
    }
  }

  // Value e of vector v sits at e·pairs + v in a row-major grid of `pairs` columns, each
  // row rotated by a shift (e for long blocks, e² otherwise) unless the rotation would not
  // spread the row evenly over the blocks; grid cell c then goes to block c mod blocks,
  // bin c div blocks.
  const int32_t n = p.pairs;
  const bool noRotation = blocks == 1 || (kind == kLongBlock ? n % blocks != 0 : n % 2 != 0);
  p.destination.assign(values, 0);
  int32_t k = 0;
  for (int32_t v = 0; v < n; ++v) {
    for (int32_t e = 0; e < p.VectorLength(v); ++e, ++k) {
      int32_t shift = 0;
      if (!noRotation && e != p.length[1]) shift = kind == kLongBlock ? e : e * e;
      const int32_t cell = e * n + (v + shift) % n;
      p.destination[k] = blockValues * (cell % blocks) + cell / blocks;
    }
  }
  p.source.assign(values, 0);
  for (int32_t i = 0; i < values; ++i) p.source[p.destination[i]] = i;
}

const float* StreamSetup::Window(int32_t n) const {
  for (const std::vector<float>& w : windows_) {
    if (static_cast<int32_t>(w.size()) == n) return w.data();
  }
  return nullptr;
}

int32_t StreamSetup::PeakPeriod(int32_t periodIndex) const {
  const int32_t khz = mode_->kHzCode;
  const int32_t lowest = RoundedDivide(80 * mode_->frameSize, khz);
  const int32_t highest = RoundedDivide(480 * mode_->frameSize, khz);
  return lowest + RoundedDivide(periodIndex * (highest - lowest), (1 << mode_->peakPeriodBits) - 1);
}

int32_t StreamSetup::PeakWidth(int32_t period) const {
  const int32_t scale = 400 * mode_->frameSize;
  // The 22 kHz, 32 kbps mode offsets and rounds the width unlike all others.
  if (mode_->kHzCode == 22 && mode_->kbpsPerChannel == 32) {
    return RoundedDivide((period + 800) * mode_->peakWidthFactor, scale);
  }
  return period * mode_->peakWidthFactor / scale;
}

void StreamSetup::FillEncoderConfig(EncoderConfig* config) const {
  *config = EncoderConfig{};
  config->channels = channels_;
  config->typeCodeBits = kWindowTypeBits;
  config->lsp0Bits = mode_->lsp0Bits;
  config->lsp1Bits = mode_->lsp1Bits;
  config->lsp2Bits = mode_->lsp2Bits;
  config->lsp2Count = mode_->lspSplits;
  config->forwardArBits = 1;
  config->powerBits = kGainBits;
  config->subPowerBits = kSubGainBits;
  config->pitchCodebookCount = parts_[kPeakPart].pairs;
  config->pitchBits = mode_->peakPeriodBits;
  config->pitchGainBits = mode_->peakGainBits;
  for (int32_t k = 0; k < 3; ++k) {
    BlockTypeConfig& t = config->blockTypes[k];
    const BlockTables& b = mode_->block[k];
    t.subBlocks = b.subBlocks;
    t.shapeCount = parts_[k].pairs;
    t.forwardCount = b.barkValues;
    t.forwardBits = b.barkBits;
    t.subPowerCount = k == kLongBlock ? 0 : b.subBlocks;
    t.hasPitch = k == kLongBlock ? 1 : 0;
  }
}

void StreamSetup::FillCodebookWidths(int32_t entry, int32_t* widths0, int32_t* widths1) const {
  const VectorPart& p = parts_[entry];
  for (int32_t i = 0; i < p.pairs; ++i) {
    widths0[i] = p.FirstBits(i);
    widths1[i] = p.SecondBits(i);
  }
}

}  // namespace twinvq
