// Index values derived from the samples: powers from levels, the rest from hashes of
// the samples, each masked to its field's width so every value fits its field.
#include "standin_encoder.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t kSegments = 8;
// Segment energy ratios (quiet floor added) that count as sudden or moderate changes.
constexpr double kQuietFloor = 1.0e4;  // mean square of an amplitude of 100
constexpr double kShortRatio = 30.0;
constexpr double kMediumRatio = 4.0;

int32_t Mask(uint32_t value, int32_t bits) {
  if (bits <= 0) return 0;
  if (bits >= 31) return static_cast<int32_t>(value & 0x7FFFFFFFu);
  return static_cast<int32_t>(value & ((1u << bits) - 1u));
}

// Samples outside the 16-bit scale (or not numbers at all) are taken as the nearest
// in-scale value, so every conversion to an integer stays defined.
int32_t SampleCode(float sample) {
  if (!(sample == sample)) return 0;
  return static_cast<int32_t>(std::clamp(sample, -32768.0f, 32767.0f));
}

uint32_t Hash(float sample, uint32_t salt) {
  uint32_t h = static_cast<uint32_t>(SampleCode(sample));
  h = (h ^ (salt * 0x9E3779B9u)) * 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  return h ^ (h >> 16);
}

double MeanSquare(const float* x, int32_t count) {
  double sum = 0.0;
  for (int32_t i = 0; i < count; ++i) sum += static_cast<double>(x[i]) * x[i];
  return count > 0 ? sum / count : 0.0;
}

// A level scale: log2 of the RMS amplitude + 1, from 0 (silence) to about 15.
// Capped at 16, the level of a full-scale signal, so that louder input cannot overflow.
double Level(double meanSquare) {
  if (!(meanSquare < 1.0e12)) return 16.0;  // too loud, infinite or not a number
  return std::log2(1.0 + std::sqrt(meanSquare));
}

int32_t ZeroCrossings(const float* x, int32_t count) {
  int32_t crossings = 0;
  for (int32_t i = 1; i < count; ++i) crossings += (x[i - 1] < 0) != (x[i] < 0);
  return crossings;
}

}  // namespace

StandinEncoder::StandinEncoder(const TwinVqLayout& layout) : layout_(layout) {
  const EncoderConfig& c = layout.config;
  int32_t shapePairs = 0, subBlocks = 0, forwardValues = 0;
  for (const BlockTypeConfig& t : c.blockTypes) {
    shapePairs = std::max(shapePairs, t.shapeCount);
    subBlocks = std::max(subBlocks, t.subBlocks);
    forwardValues = std::max(forwardValues, t.subBlocks * t.forwardCount);
  }
  shape_.assign(2 * shapePairs, 0);
  forward_.assign(2 * forwardValues, 0);
  forwardAr_.assign(2 * subBlocks, 0);
  power_.assign(2 * (subBlocks + 1), 0);
  pitchCodebook_.assign(2 * c.pitchCodebookCount, 0);
  for (int ch = 0; ch < 2; ++ch) {
    lsp_[ch].assign(2 + c.lsp2Count, 0);
    pb_[ch].assign(1, 0);  // no pb part in any mode; a valid pointer all the same
  }
}

void StandinEncoder::Attach(FrameIndex* index) {
  index->shape = shape_.data();
  index->forward = forward_.data();
  index->forwardAr = forwardAr_.data();
  index->power = power_.data();
  index->pitchCodebook = pitchCodebook_.data();
  for (int ch = 0; ch < 2; ++ch) {
    index->lsp[ch] = lsp_[ch].data();
    index->pb[ch] = pb_[ch].data();
  }
}

int32_t StandinEncoder::ChooseBlockType(const float* samples) {
  const int32_t frameSize = layout_.mode->frameSize;
  const int32_t segment = frameSize / kSegments;
  double largestRatio = 1.0;
  for (int32_t ch = 0; ch < layout_.channels; ++ch) {
    double previous = lastSegmentEnergy_[ch];
    for (int32_t k = 0; k < kSegments; ++k) {
      const double energy = MeanSquare(samples + ch * frameSize + k * segment, segment);
      const double ratio = (std::max(energy, previous) + kQuietFloor) /
                           (std::min(energy, previous) + kQuietFloor);
      largestRatio = std::max(largestRatio, ratio);
      previous = energy;
    }
    lastSegmentEnergy_[ch] = previous;
  }
  if (largestRatio > kShortRatio) return kShortBlock;
  if (largestRatio > kMediumRatio) return kMediumBlock;
  return kLongBlock;
}

void StandinEncoder::FillShape(const float* samples, int32_t type) {
  const int32_t pairs = layout_.config.blockTypes[type].shapeCount;
  const int64_t total = int64_t{layout_.mode->frameSize} * layout_.channels;
  for (int32_t i = 0; i < 2 * pairs; ++i) {
    const float sample = samples[total * i / (2 * pairs)];
    const int32_t* widths = i < pairs ? layout_.widths0[type] : layout_.widths1[type];
    shape_[i] = Mask(Hash(sample, static_cast<uint32_t>(i)), widths[i % pairs]);
  }
}

void StandinEncoder::FillPitchCodebook(const float* samples) {
  const int32_t pairs = layout_.config.pitchCodebookCount;
  for (int32_t i = 0; i < 2 * pairs; ++i) {
    const int32_t* widths = i < pairs ? layout_.widths0[3] : layout_.widths1[3];
    pitchCodebook_[i] = Mask(Hash(samples[i], 0x1000u + static_cast<uint32_t>(i)), widths[i % pairs]);
  }
}

void StandinEncoder::FillChannel(const float* x, int32_t ch, const BlockTypeConfig& t,
                                 FrameIndex* index) {
  const EncoderConfig& c = layout_.config;
  const int32_t frameSize = layout_.mode->frameSize;
  const int32_t subLength = frameSize / t.subBlocks;

  // Forward values, history flags and sub-block powers, one group per sub-block.
  double previousEnergy = 0.0;
  for (int32_t s = 0; s < t.subBlocks; ++s) {
    const float* sub = x + s * subLength;
    const double energy = MeanSquare(sub, subLength);
    for (int32_t k = 0; k < t.forwardCount; ++k) {
      const uint32_t value = static_cast<uint32_t>(Level(energy) * 4.0) + static_cast<uint32_t>(k);
      forward_[(t.subBlocks * ch + s) * t.forwardCount + k] = Mask(value, t.forwardBits);
    }
    forwardAr_[t.subBlocks * ch + s] = Mask(energy > previousEnergy ? 1u : 0u, c.forwardArBits);
    if (s < t.subPowerCount) {
      power_[(t.subPowerCount + 1) * ch + 1 + s] =
          Mask(static_cast<uint32_t>(Level(energy) * 2.0), c.subPowerBits);
    }
    previousEnergy = energy;
  }

  const double level = Level(MeanSquare(x, frameSize));
  power_[(t.subPowerCount + 1) * ch] = Mask(static_cast<uint32_t>(level * 16.0), c.powerBits);

  // Spectral envelope stand-ins from the zero-crossing rate of the whole and of parts.
  const int32_t crossings = ZeroCrossings(x, frameSize);
  std::vector<int32_t>& lsp = lsp_[ch];
  lsp[0] = Mask(static_cast<uint32_t>(crossings), c.lsp0Bits);
  lsp[1] = Mask(static_cast<uint32_t>(crossings) >> 1, c.lsp1Bits);
  const int32_t part = frameSize / std::max(c.lsp2Count, 1);
  for (int32_t j = 0; j < c.lsp2Count; ++j) {
    lsp[2 + j] = Mask(static_cast<uint32_t>(ZeroCrossings(x + j * part, part)), c.lsp2Bits);
  }

  index->pitch[ch] = Mask(static_cast<uint32_t>(2 * frameSize / (crossings + 1)), c.pitchBits);
  index->pitchGain[ch] = Mask(static_cast<uint32_t>(level * 8.0), c.pitchGainBits);
}

void StandinEncoder::Encode(const float* samples, FrameIndex* index) {
  Attach(index);
  const int32_t type = ChooseBlockType(samples);
  const BlockTypeConfig& t = layout_.config.blockTypes[type];
  index->blockType = type;
  index->typeCode = kTypeCodes[type];
  FillShape(samples, type);
  index->pitch[1] = index->pitchGain[1] = 0;
  for (int32_t ch = 0; ch < layout_.channels; ++ch) {
    FillChannel(samples + ch * layout_.mode->frameSize, ch, t, index);
  }
  FillPitchCodebook(samples);
}
