#include "frame_coder.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "bit_writer.h"

namespace wmaenc {
namespace {

constexpr int32_t kNoiseTableSize = 8192;
constexpr float kNoiseMult = 0.02f;   // the noise table's RMS
constexpr int32_t kLowestNoiseLevel = -19, kHighestNoiseLevel = 108;  // the first level's 7 bits
// The level the exponents of noise-only bands are placed for: under the first level's
// reach, leaving room for bands whose exponents cannot follow (clamped at the largest).
constexpr double kNoiseLevelAim = 100.0;
constexpr double kMostNoiseLevelError = 1.5;  // dB; a band further off is coded instead

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

// The coefficient ranges the run-level code carries, in order: all below codedEnd but the
// noise bands. Returns how many.
int32_t CodedRanges(const BlockLayout& layout, const ChannelPlan& c, int32_t (*ranges)[2]) {
  int32_t count = 0, from = 0;
  if (c.noiseBands > 0) {
    for (int32_t j = 0; j < layout.highBandCount; ++j) {
      if (!c.noise[j]) continue;
      if (layout.highBandFirst[j] > from) {
        ranges[count][0] = from;
        ranges[count++][1] = layout.highBandFirst[j];
      }
      from = layout.highBandFirst[j] + layout.highBandWidths[j];
    }
  }
  if (from < layout.codedEnd) {
    ranges[count][0] = from;
    ranges[count++][1] = layout.codedEnd;
  }
  return count;
}

// The end of exponent band b's coded part: where its noise band (always its top part) starts.
int32_t CodedPartEnd(const BlockLayout& layout, const ChannelPlan& c, int32_t band, int32_t end) {
  if (c.noiseBands == 0) return end;
  for (int32_t j = 0; j < layout.highBandCount; ++j)
    if (c.noise[j] && layout.highBandOwner[j] == band) return std::min(end, layout.highBandFirst[j]);
  return end;
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
  // Noise bands carry no values: the decoder counts positions over the coded ranges only.
  int32_t ranges[kMaxHighBands + 1][2];
  const int32_t rangeCount = CodedRanges(*plan.layout, plan.channel[ch], ranges);
  int32_t run = 0, pos = 0, end = 0;
  for (int32_t r = 0; r < rangeCount; ++r) {
    for (int32_t k = ranges[r][0]; k < ranges[r][1]; ++k, ++end) {
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
      pos = end + 1;
    }
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
    const int32_t codedPart = CodedPartEnd(layout, c, b, end);
    if (codedPart > k)
      fits = QuantiseRange(coefs, k, codedPart, ExponentScale(c.exponents[b]) * mult, limit, c.values, &changed) && fits;
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
  const int32_t to = CodedPartEnd(layout, c, band, std::min(from + layout.bandWidths[band], layout.codedEnd));
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
    const int32_t highBands = plan.layout->highBandCount;
    for (int32_t ch = 0; ch < plan.channels; ++ch) {
      const ChannelPlan& c = plan.channel[ch];
      if (!c.coded) continue;
      for (int32_t j = 0; j < highBands; ++j) out->Put(c.noise[j] ? 1u : 0u, 1);
    }
    for (int32_t ch = 0; ch < plan.channels; ++ch) {
      const ChannelPlan& c = plan.channel[ch];
      if (!c.coded || c.noiseBands == 0) continue;
      bool firstBand = true;
      int32_t last = 0;
      for (int32_t j = 0; j < highBands; ++j) {
        if (!c.noise[j]) continue;
        if (firstBand) {
          out->Put(static_cast<uint32_t>(c.noiseLevel[j] - kLowestNoiseLevel), 7);
        } else {
          const VlcCode& code = NoiseLevelCode(c.noiseLevel[j] - last);
          out->Put(code.code, code.length);
        }
        firstBand = false;
        last = c.noiseLevel[j];
      }
    }
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
  int32_t ranges[kMaxHighBands + 1][2];
  const int32_t rangeCount = CodedRanges(*plan.layout, plan.channel[ch], ranges);
  int32_t positions = 0, last = -1;
  for (int32_t r = 0; r < rangeCount; ++r) {
    for (int32_t k = ranges[r][0]; k < ranges[r][1]; ++k, ++positions)
      if (plan.channel[ch].values[k] != 0) last = positions;
  }
  // One position stays free so that the end-of-block code keeps its place.
  return std::max(positions - (last + 1) - 1, 0);
}

bool HoldsNoise(const BlockLayout& layout, const ChannelPlan& c, int32_t band) {
  if (c.noiseBands == 0) return false;
  for (int32_t j = 0; j < layout.highBandCount; ++j)
    if (c.noise[j] && layout.highBandOwner[j] == band) return true;
  return false;
}

namespace {

// The level (dB) that gives noise band j the RMS asked for, with the exponents as they are.
double WantedNoiseLevel(const BlockLayout& layout, const ChannelPlan& c, int32_t j, int32_t lastNoise) {
  const double scale = ExponentScale(c.exponents[layout.highBandOwner[j]]);
  const double lastScale = ExponentScale(c.exponents[layout.highBandOwner[lastNoise]]);
  const double top = MaxExponentScale(layout, c.exponents);
  const double norm = 1.0 / (layout.length / 2);
  const double rms = std::max(static_cast<double>(c.noiseRms[j]), 1e-20);
  return 20.0 * std::log10(rms * lastScale * top / (scale * scale * norm));
}

// Which exponent bands may take new exponents: those of noise bands with no more coded
// below the noise than the noise itself spans (the split may fall a bin into a band), or
// only values above movableFrom (zeros all). The exponent of one that also codes values
// is then their step too, which the gain search takes as it finds it.
void MovableBands(const BlockLayout& layout, int32_t movableFrom, const ChannelPlan& c, bool* moves) {
  std::fill(moves, moves + kMaxBands, false);
  int32_t bandStart = 0;
  for (int32_t b = 0; b < layout.bandCount; bandStart += layout.bandWidths[b++]) {
    for (int32_t j = 0; j < layout.highBandCount; ++j) {
      if (layout.highBandOwner[j] != b || !c.noise[j]) continue;
      const int32_t coded = layout.highBandFirst[j] - bandStart;
      moves[b] = coded <= layout.highBandWidths[j] || bandStart >= movableFrom;
    }
  }
}

// Exponents for the movable noise bands: each band's RMS over the common level, so that
// the levels themselves stay near it and cost little. The last noise band's exponent
// (which every level is scaled by) follows its own RMS, or where anchor names a noise band
// that keeps its exponent, is set so that that band's level lands at the common level
// too. None rises past the largest exponent of the bands that keep theirs, and every step
// stays within the exponent code's reach; where that cannot be had, the exponents stay
// as they were.
void PlaceNoiseExponents(const BlockLayout& layout, const bool* moves, const int32_t* original, int32_t anchor,
                         ChannelPlan* c) {
  int32_t lastNoise = 0;
  for (int32_t j = 0; j < layout.highBandCount; ++j)
    if (c->noise[j]) lastNoise = j;
  int32_t top = kLowestExponent;
  for (int32_t b = 0; b < layout.bandCount; ++b)
    if (!moves[b]) top = std::max(top, original[b]);
  const double topScale = ExponentScale(top), norm = 1.0 / (layout.length / 2);
  const double aim = std::pow(10.0, kNoiseLevelAim / 20.0);
  // Exponent scale per unit of RMS that puts the levels at the aim.
  const double perRms = topScale / (aim * norm);
  auto exponentOf = [&](double scale) {
    const int32_t e = static_cast<int32_t>(std::lround(16.0 * std::log10(std::max(scale, 1e-30))));
    return std::clamp(e, kLowestExponent, top);
  };
  const int32_t lastBand = layout.highBandOwner[lastNoise];
  if (moves[lastBand]) {
    if (anchor >= 0) {
      const double e = ExponentScale(original[layout.highBandOwner[anchor]]);
      c->exponents[lastBand] = exponentOf(aim * e * e * norm / (std::max<double>(c->noiseRms[anchor], 1e-20) * topScale));
    } else {
      c->exponents[lastBand] = exponentOf(c->noiseRms[lastNoise] * perRms);
    }
  }
  const double lastScale = ExponentScale(c->exponents[lastBand]);
  for (int32_t j = 0; j < lastNoise; ++j) {
    const int32_t b = layout.highBandOwner[j];
    if (c->noise[j] && moves[b]) c->exponents[b] = exponentOf(std::sqrt(c->noiseRms[j] * lastScale * perRms));
  }
  for (int32_t b = 0; b < layout.bandCount; ++b) {
    const int32_t before = b > 0 ? c->exponents[b - 1] : kFirstExponent;
    if (moves[b])
      c->exponents[b] = std::clamp(c->exponents[b], before - kLargestExponentStep, before + kLargestExponentStep);
    if (std::abs(c->exponents[b] - before) > kLargestExponentStep) {
      std::copy(original, original + layout.bandCount, c->exponents);
      return;
    }
  }
}

// The levels one after another, each within the code's reach of the one before; returns
// the band furthest from its wanted level where that is more than the error allowed.
int32_t PlaceNoiseLevels(const BlockLayout& layout, ChannelPlan* c, double* worst) {
  int32_t lastNoise = 0;
  for (int32_t j = 0; j < layout.highBandCount; ++j)
    if (c->noise[j]) lastNoise = j;
  bool firstBand = true;
  int32_t last = 0, worstBand = -1;
  *worst = 0;
  for (int32_t j = 0; j < layout.highBandCount; ++j) {
    if (!c->noise[j]) continue;
    const double wanted = WantedNoiseLevel(layout, *c, j, lastNoise);
    const int32_t level = static_cast<int32_t>(std::lround(std::clamp(wanted, -1000.0, 1000.0)));
    last = firstBand ? std::clamp(level, kLowestNoiseLevel, kHighestNoiseLevel)
                     : std::clamp(level, last - kNoiseLevelStep, last + kNoiseLevelStep);
    c->noiseLevel[j] = last;
    firstBand = false;
    if (std::fabs(last - wanted) > *worst) {
      *worst = std::fabs(last - wanted);
      worstBand = j;
    }
  }
  return *worst > kMostNoiseLevelError ? worstBand : -1;
}

// The noise bands' exponents and levels, the last noise band's exponent from its own RMS
// or (anchored) from the first noise band that keeps its exponent; bands whose level
// cannot be had go back to coded values one by one, the worst first.
void PlaceNoise(const BlockLayout& layout, int32_t movableFrom, bool anchored, const int32_t* original,
                ChannelPlan* c) {
  while (c->noiseBands > 0) {
    bool moves[kMaxBands];
    MovableBands(layout, movableFrom < 0 ? layout.length : movableFrom, *c, moves);
    if (movableFrom < 0) std::fill(moves, moves + kMaxBands, false);
    int32_t anchor = -1;
    for (int32_t j = 0; j < layout.highBandCount && anchored && anchor < 0; ++j)
      if (c->noise[j] && !moves[layout.highBandOwner[j]]) anchor = j;
    std::copy(original, original + layout.bandCount, c->exponents);
    PlaceNoiseExponents(layout, moves, original, anchor, c);
    double worst = 0;
    const int32_t worstBand = PlaceNoiseLevels(layout, c, &worst);
    if (worstBand < 0) return;
    c->noise[worstBand] = false;
    --c->noiseBands;
  }
  std::copy(original, original + layout.bandCount, c->exponents);
}

}  // namespace

void SetNoiseLevels(const BlockLayout& layout, int32_t movableFrom, ChannelPlan* c) {
  if (c->noiseBands == 0) return;
  int32_t original[kMaxBands];
  std::copy(c->exponents, c->exponents + layout.bandCount, original);
  // Both ways of placing the last band's exponent; the one that keeps more noise bands.
  ChannelPlan anchored = *c;
  PlaceNoise(layout, movableFrom, false, original, c);
  if (movableFrom < 0) return;
  PlaceNoise(layout, movableFrom, true, original, &anchored);
  if (anchored.noiseBands > c->noiseBands) *c = anchored;
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
  // Each noise band's multiplier, computed as the decoder does (single precision where it
  // is): its exponents' mean power against the last noise band's, its level, one over the
  // largest exponent and the noise's own scale.
  int32_t noiseOf[kMaxBands];
  float noiseMult[kMaxHighBands] = {};
  std::fill(noiseOf, noiseOf + kMaxBands, -1);
  if (s.noiseCoding && c.noiseBands > 0) {
    float power[kMaxHighBands] = {};
    int32_t lastNoise = 0;
    for (int32_t j = 0; j < layout.highBandCount; ++j) {
      if (!c.noise[j]) continue;
      const float e = ExponentScale(c.exponents[layout.highBandOwner[j]]);
      float sum = 0;
      for (int32_t i = 0; i < layout.highBandWidths[j]; ++i) sum += e * e;
      power[j] = sum / static_cast<float>(layout.highBandWidths[j]);
      lastNoise = j;
      noiseOf[layout.highBandOwner[j]] = j;
    }
    const float top = MaxExponentScale(layout, c.exponents);
    const float norm = 1.0f / static_cast<float>(layout.length / 2);
    for (int32_t j = 0; j < layout.highBandCount; ++j) {
      if (!c.noise[j]) continue;
      float m = static_cast<float>(std::sqrt(static_cast<double>(power[j] / power[lastNoise])));
      m = static_cast<float>(m * std::exp2(3.32192809488736234787 * (c.noiseLevel[j] * 0.05)));
      m = m / (top * kNoiseMult);
      noiseMult[j] = m * norm;
    }
  }
  float lastScale = 0;
  int32_t k = 0;
  for (int32_t b = 0; b < layout.bandCount && k < layout.codedEnd; ++b) {
    const float scale = ExponentScale(c.exponents[b]);
    const int32_t end = std::min(k + layout.bandWidths[b], layout.codedEnd);
    const int32_t j = noiseOf[b];
    const int32_t codedPart = j >= 0 ? layout.highBandFirst[j] : end;
    for (; k < codedPart; ++k) {
      float v = static_cast<float>(c.values[k]);
      if (s.noiseCoding) {
        v += noise[*noiseIndex];
        *noiseIndex = (*noiseIndex + 1) & (kNoiseTableSize - 1);
      }
      out[k] = v * scale * mult;
    }
    for (; k < end; ++k) {
      out[k] = noise[*noiseIndex] * scale * noiseMult[j];
      *noiseIndex = (*noiseIndex + 1) & (kNoiseTableSize - 1);
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
