#include "frame_coder.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "bit_writer.h"

namespace wmaenc {
namespace {

constexpr int32_t kNoiseTableSize = 8192;

// The decoder's noise: a linear congruential sequence scaled to +-sqrt(3) * 0.02.
const float* NoiseTable() {
  static const float* table = [] {
    static float t[kNoiseTableSize];
    uint32_t seed = 1;
    const float norm = static_cast<float>((1.0 / static_cast<float>(1LL << 31)) * std::sqrt(3.0) * 0.02f);
    for (int32_t i = 0; i < kNoiseTableSize; ++i) {
      seed = seed * 314159u + 1u;
      t[i] = static_cast<float>(static_cast<int32_t>(seed)) * norm;
    }
    return t;
  }();
  return table;
}

// The band scales and gain factors by table: the search asks for them thousands of times a
// frame, and pow is slow where the C runtime computes it on the x87 unit (32-bit Windows).
// The tables hold exactly what pow gives.
float ExponentScale(int32_t e) {
  static const auto table = [] {
    std::array<float, kHighestExponent - kLowestExponent + 1> t{};
    for (int32_t i = 0; i < static_cast<int32_t>(t.size()); ++i)
      t[i] = static_cast<float>(std::pow(10.0, (i + kLowestExponent) / 16.0));
    return t;
  }();
  if (e < kLowestExponent || e > kHighestExponent) return static_cast<float>(std::pow(10.0, e / 16.0));
  return table[e - kLowestExponent];
}

double GainFactor(int32_t gain) {
  static const auto table = [] {
    std::array<double, kHighestGain + 1> t{};
    for (int32_t g = 0; g <= kHighestGain; ++g) t[g] = std::pow(10.0, g * 0.05);
    return t;
  }();
  if (gain < 0 || gain > kHighestGain) return std::pow(10.0, gain * 0.05);
  return table[gain];
}

float MaxExponentScale(const BlockLayout& layout, const int32_t* exponents) {
  int32_t top = kLowestExponent;
  for (int32_t b = 0; b < layout.bandCount; ++b) top = std::max(top, exponents[b]);
  return ExponentScale(top);
}

// The decoder's multiplier of a block: 10^(gain/20) / largest band scale / (length / 2).
float BlockMultiplier(const BlockPlan& plan, int32_t ch) {
  const float mult = static_cast<float>(GainFactor(plan.gain) /
                                        MaxExponentScale(*plan.layout, plan.channel[ch].exponents));
  return mult * (1.0f / static_cast<float>(plan.layout->length / 2));
}

int32_t LastValue(const BlockPlan& plan, int32_t ch) {
  for (int32_t k = plan.layout->codedEnd - 1; k >= 0; --k)
    if (plan.channel[ch].values[k] != 0) return k;
  return -1;
}

template <typename Sink>
void WriteEscape(const StreamSetup& s, const CoefTable& t, int32_t levelBits, uint32_t level,
                 int32_t run, bool negative, Sink* out) {
  out->Put(t.codes[kEscapeIndex].code, t.codes[kEscapeIndex].length);
  out->Put(level, levelBits);
  out->Put(static_cast<uint32_t>(run), s.frameLengthBits);
  out->Put(negative ? 0u : 1u, 1);
}

// First code index of each level of a table, computed once per table.
struct LevelIndex {
  int32_t first[400];
};
const LevelIndex& FirstCodes(int32_t table) {
  static LevelIndex index[6];
  static bool made = [] {
    for (int32_t t = 0; t < 6; ++t) {
      const CoefTable& c = CoefficientTable(t);
      int32_t i = 2;
      for (int32_t l = 0; l < c.levels; ++l) {
        index[t].first[l] = i;
        i += c.runsPerLevel[l];
      }
    }
    return true;
  }();
  (void)made;
  return index[table];
}

template <typename Sink>
void WriteCoefficients(const StreamSetup& s, const BlockPlan& plan, int32_t ch, Sink* out) {
  const int32_t tableIndex = 2 * s.coefTable + ((ch == 1 && plan.midSide) ? 1 : 0);
  const CoefTable& t = CoefficientTable(tableIndex);
  const LevelIndex& first = FirstCodes(tableIndex);
  const int32_t levelBits = EscapeLevelBits(plan.gain);
  const int32_t* v = plan.channel[ch].values;
  const int32_t end = plan.layout->codedEnd;
  int32_t run = 0, pos = 0;
  for (int32_t k = 0; k < end; ++k) {
    if (v[k] == 0) {
      ++run;
      continue;
    }
    const uint32_t level = static_cast<uint32_t>(std::abs(v[k]));
    if (level <= static_cast<uint32_t>(t.levels) && run < t.runsPerLevel[level - 1]) {
      const VlcCode& c = t.codes[first.first[level - 1] + run];
      out->Put(c.code, c.length);
      out->Put(v[k] < 0 ? 0u : 1u, 1);
    } else {
      WriteEscape(s, t, levelBits, level, run, v[k] < 0, out);
    }
    run = 0;
    pos = k + 1;
  }
  for (int32_t i = 0; i < plan.channel[ch].padEscapes; ++i) {
    WriteEscape(s, t, levelBits, 0, 0, false, out);
    ++pos;
  }
  // The decoder stops by itself once the positions are used up.
  if (pos < end) out->Put(t.codes[kEndOfBlockIndex].code, t.codes[kEndOfBlockIndex].length);
}

template <typename Sink>
void WriteExponents(const BlockLayout& layout, const int32_t* exponents, Sink* out) {
  int32_t last = kFirstExponent;
  for (int32_t b = 0; b < layout.bandCount; ++b) {
    const VlcCode& c = ExponentCode(exponents[b] - last);
    out->Put(c.code, c.length);
    last = exponents[b];
  }
}

}  // namespace

int32_t EscapeLevelBits(int32_t gain) {
  if (gain < 15) return 13;
  if (gain < 32) return 12;
  if (gain < 40) return 11;
  if (gain < 45) return 10;
  return 9;
}

void ExponentsFromThresholds(const BlockLayout& layout, const double* thresholds, int32_t* exponents) {
  int32_t last = kFirstExponent;
  for (int32_t b = 0; b < layout.bandCount; ++b) {
    const int32_t e = static_cast<int32_t>(std::lround(8.0 * std::log10(std::max(thresholds[b], 1e-30))));
    exponents[b] = std::clamp(e, std::max(kLowestExponent, last - kLargestExponentStep),
                            std::min(kHighestExponent, last + kLargestExponentStep));
    last = exponents[b];
  }
}

double NoiseOverThresholdDb(const BlockPlan& plan) {
  double worst = -1e9;
  for (int32_t ch = 0; ch < plan.channels; ++ch) {
    if (!plan.channel[ch].coded) continue;
    int32_t top = kLowestExponent;
    for (int32_t b = 0; b < plan.layout->bandCount; ++b) top = std::max(top, plan.channel[ch].exponents[b]);
    worst = std::max(worst, plan.gain - top * 20.0 / 16.0);
  }
  return worst;
}

namespace {

// Values are rounded down more often than to the nearest: a value that would round up by a
// little costs bits its noise saving does not repay (PEAQ, 128 kbit/s, five clips: median
// ODG -1.45 at 0.5-like rounding of 0.45, -1.27 at 0.34).
constexpr float kRounding = 0.34f;

// Values of coefficients [from, to) at one step; false where one exceeds the escape's reach
// (clipped to it); *changed where a value differs from what was there.
bool QuantiseRange(const float* coefs, int32_t from, int32_t to, float step, int32_t limit, int32_t* values,
                   bool* changed) {
  const float inverse = 1.0f / step;
  // Without branches, so that the compiler vectorises the loop: magnitudes from limit + 1
  // up (and NaN) become limit + 1, which does not fit and is clipped to limit.
  const float ceiling = static_cast<float>(limit) + 1.0f;
  int32_t over = 0, moved = 0;
  for (int32_t k = from; k < to; ++k) {
    float a = std::fabs(coefs[k]) * inverse;
    a = a < ceiling ? a : ceiling;
    int32_t q = static_cast<int32_t>(a + kRounding);
    over |= q > limit;
    q = q > limit ? limit : q;
    q = coefs[k] < 0 ? -q : q;
    moved |= q != values[k];
    values[k] = q;
  }
  if (moved) *changed = true;
  return over == 0;
}

}  // namespace

bool Quantise(const StreamSetup&, const float* coefs, BlockPlan* plan, int32_t ch) {
  const BlockLayout& layout = *plan->layout;
  ChannelPlan& c = plan->channel[ch];
  const float mult = BlockMultiplier(*plan, ch);
  const int32_t limit = (1 << EscapeLevelBits(plan->gain)) - 1;
  bool fits = true, changed = false;
  int32_t k = 0;
  for (int32_t b = 0; b < layout.bandCount && k < layout.codedEnd; ++b) {
    const int32_t end = std::min(k + layout.bandWidths[b], layout.codedEnd);
    fits = QuantiseRange(coefs, k, end, ExponentScale(c.exponents[b]) * mult, limit, c.values, &changed) && fits;
    k = end;
  }
  c.padEscapes = 0;
  return fits;
}

bool QuantiseBand(const float* coefs, BlockPlan* plan, int32_t ch, int32_t band, bool* changed) {
  const BlockLayout& layout = *plan->layout;
  ChannelPlan& c = plan->channel[ch];
  int32_t from = 0;
  for (int32_t b = 0; b < band; ++b) from += layout.bandWidths[b];
  const int32_t to = std::min(from + layout.bandWidths[band], layout.codedEnd);
  *changed = false;
  if (from >= to) return true;
  const float step = ExponentScale(c.exponents[band]) * BlockMultiplier(*plan, ch);
  return QuantiseRange(coefs, from, to, step, (1 << EscapeLevelBits(plan->gain)) - 1, c.values, changed);
}

int64_t ChannelBits(const StreamSetup& s, const BlockPlan& plan, int32_t ch) {
  BitCounter counter;
  if (!plan.reuseExponents) WriteExponents(*plan.layout, plan.channel[ch].exponents, &counter);
  WriteCoefficients(s, plan, ch, &counter);
  return counter.Count();
}

template <typename Sink>
void WriteBlock(const StreamSetup& s, const BlockPlan& plan, Sink* out) {
  if (plan.variableSizes) {
    if (plan.restateSizes) {
      out->Put(static_cast<uint32_t>(plan.previousSize), plan.sizeBits);
      out->Put(static_cast<uint32_t>(plan.size), plan.sizeBits);
    }
    out->Put(static_cast<uint32_t>(plan.nextSize), plan.sizeBits);
  }
  if (plan.channels == 2) out->Put(plan.midSide ? 1u : 0u, 1);
  bool any = false;
  for (int32_t ch = 0; ch < plan.channels; ++ch) {
    out->Put(plan.channel[ch].coded ? 1u : 0u, 1);
    any = any || plan.channel[ch].coded;
  }
  if (!any) return;
  for (int32_t rest = plan.gain - 1;; rest -= 127) {
    out->Put(static_cast<uint32_t>(std::min(rest, 127)), 7);
    if (rest < 127) break;
  }
  if (s.noiseCoding) {
    for (int32_t ch = 0; ch < plan.channels; ++ch)
      if (plan.channel[ch].coded) out->Put(0, plan.layout->highBandCount);  // no band left to noise
  }
  // Shorter blocks say whether their own exponents follow.
  if (plan.size > 0) out->Put(plan.reuseExponents ? 0u : 1u, 1);
  if (!plan.reuseExponents) {
    for (int32_t ch = 0; ch < plan.channels; ++ch)
      if (plan.channel[ch].coded) WriteExponents(*plan.layout, plan.channel[ch].exponents, out);
  }
  for (int32_t ch = 0; ch < plan.channels; ++ch)
    if (plan.channel[ch].coded) WriteCoefficients(s, plan, ch, out);
}

template void WriteBlock<BitCounter>(const StreamSetup&, const BlockPlan&, BitCounter*);
template void WriteBlock<BitWriter>(const StreamSetup&, const BlockPlan&, BitWriter*);

int64_t BlockBits(const StreamSetup& s, const BlockPlan& plan) {
  BitCounter counter;
  WriteBlock(s, plan, &counter);
  return counter.Count();
}

int32_t PadEscapeBits(const StreamSetup& s, const BlockPlan& plan, int32_t ch) {
  const CoefTable& t = CoefficientTable(2 * s.coefTable + ((ch == 1 && plan.midSide) ? 1 : 0));
  return t.codes[kEscapeIndex].length + EscapeLevelBits(plan.gain) + s.frameLengthBits + 1;
}

int32_t PadEscapeRoom(const BlockPlan& plan, int32_t ch) {
  // One position stays free so that the end-of-block code keeps its place.
  const int32_t room = plan.layout->codedEnd - (LastValue(plan, ch) + 1) - 1;
  return std::max(room, 0);
}

void DecodedCoefficients(const StreamSetup& s, const BlockPlan& plan, int32_t ch,
                         int32_t* noiseIndex, float* out) {
  const BlockLayout& layout = *plan.layout;
  const ChannelPlan& c = plan.channel[ch];
  if (!c.coded) {
    std::fill(out, out + layout.length, 0.0f);
    return;
  }
  const float* noise = NoiseTable();
  const float mult = BlockMultiplier(plan, ch);
  float lastScale = 0;
  int32_t k = 0;
  for (int32_t b = 0; b < layout.bandCount && k < layout.codedEnd; ++b) {
    const float scale = ExponentScale(c.exponents[b]);
    const int32_t end = std::min(k + layout.bandWidths[b], layout.codedEnd);
    for (; k < end; ++k) {
      float v = static_cast<float>(c.values[k]);
      if (s.noiseCoding) {
        v += noise[*noiseIndex];
        *noiseIndex = (*noiseIndex + 1) & (kNoiseTableSize - 1);
      }
      out[k] = v * scale * mult;
    }
    lastScale = scale;
  }
  for (; k < layout.length; ++k) {
    if (s.noiseCoding) {
      out[k] = noise[*noiseIndex] * (mult * lastScale);
      *noiseIndex = (*noiseIndex + 1) & (kNoiseTableSize - 1);
    } else {
      out[k] = 0.0f;
    }
  }
}

}  // namespace wmaenc
