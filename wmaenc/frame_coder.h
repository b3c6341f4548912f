// One block of one frame: exponents per band, a total gain, the run-level coefficients,
// how many bits they take, writing them, and what the decoder makes of them.
#pragma once

#include <cstdint>

#include "stream_setup.h"
#include "tables.h"

namespace wmaenc {

struct ChannelPlan {
  bool coded = true;
  int32_t exponents[kMaxBands] = {};   // band scale 10^(e/16), e in -60..95
  int32_t values[kMaxFrameLength] = {};  // quantised coefficients below codedEnd
  int32_t padEscapes = 0;              // zero-valued escapes after the last value: filler
  // Bands above the noise split sent as the decoder's noise instead of values: which, the
  // RMS each should have (the decoder's coefficient scale) and its level as coded (dB).
  int32_t noiseBands = 0;
  bool noise[kMaxHighBands] = {};
  float noiseRms[kMaxHighBands] = {};
  int32_t noiseLevel[kMaxHighBands] = {};
};

struct BlockPlan {
  const BlockLayout* layout = nullptr;
  // Block size indices (length frameLength >> k), written where the stream has variable
  // blocks: the previous and this one only where the decoder restarts (restateSizes).
  bool variableSizes = false;
  bool restateSizes = false;
  int32_t sizeBits = 0;
  int32_t previousSize = 0, size = 0, nextSize = 0;
  int32_t channels = 1;
  bool midSide = false;
  int32_t gain = 1;                    // total gain in dB, 1 and up
  // A shorter block may keep the exponents the decoder holds (those of the block before,
  // copied into the plan) instead of bringing its own.
  bool reuseExponents = false;
  ChannelPlan channel[kMaxChannels];
};

constexpr int32_t kLowestExponent = -60;
constexpr int32_t kFirstExponent = 36;    // the decoder's start for the first delta
constexpr int32_t kLargestExponentStep = 60;  // the exponent code's reach either way
constexpr int32_t kHighestExponent = 95;
constexpr int32_t kHighestGain = 1 + 127 * 3;

// Bits of an escape's level at this total gain.
int32_t EscapeLevelBits(int32_t gain);

// The exponents from per-band noise thresholds (power per coefficient): each band's step
// in proportion to the threshold's square root, in steps of 1.5 dB, the steps between
// bands kept to what the code can say. The total gain then scales all steps together.
void ExponentsFromThresholds(const BlockLayout& layout, const double* thresholds, int32_t* exponents);

// How far the block's quantisation noise lies above its thresholds, in dB up to a constant:
// the largest band's step is 10^(gain/20) in every channel, so a channel's noise sits at
// gain - (its largest exponent) * 20/16 against its thresholds; the worse channel counts.
double NoiseOverThresholdDb(const BlockPlan& plan);

// The noise bands' levels so that the decoder's noise in each has the RMS asked for. The
// decoder scales a noise band by its exponent squared over the last noise band's, the level
// and one over the largest exponent; levels are coded as the first (7 bits) and steps of at
// most 18 dB. With movableFrom >= 0 the exponents of noise bands with no coded values below
// movableFrom are placed anew (the band's RMS, scaled so that levels stay near a common
// value); with -1 every exponent stays. A band whose level cannot be reached within 1.5 dB
// is coded instead (its noise flag cleared, its exponent as it was).
void SetNoiseLevels(const BlockLayout& layout, int32_t movableFrom, ChannelPlan* c);

// Whether exponent band `band` holds one of the channel's noise bands.
bool HoldsNoise(const BlockLayout& layout, const ChannelPlan& c, int32_t band);

// Quantises coefs at the plan's gain and exponents into values; false where a value is
// larger than an escape can carry at that gain.
bool Quantise(const StreamSetup& s, const float* coefs, BlockPlan* plan, int32_t ch);

// Band `band` of channel ch only, at the plan's gain and exponents (the largest exponent
// unchanged since Quantise); *changed where any value moved.
bool QuantiseBand(const float* coefs, BlockPlan* plan, int32_t ch, int32_t band, bool* changed);
// Bits of channel ch's exponents and coefficients.
int64_t ChannelBits(const StreamSetup& s, const BlockPlan& plan, int32_t ch);

// Bits of the block as WriteBlock writes it.
int64_t BlockBits(const StreamSetup& s, const BlockPlan& plan);
// Bits one zero-valued escape adds, and how many fit after channel ch's last value.
int32_t PadEscapeBits(const StreamSetup& s, const BlockPlan& plan, int32_t ch);
int32_t PadEscapeRoom(const BlockPlan& plan, int32_t ch);

template <typename Sink>
void WriteBlock(const StreamSetup& s, const BlockPlan& plan, Sink* out);

// The coefficients the decoder feeds its inverse transform for channel ch (before any
// mid/side butterfly); noiseIndex is the decoder's noise position, advanced as it does.
void DecodedCoefficients(const StreamSetup& s, const BlockPlan& plan, int32_t ch,
                         int32_t* noiseIndex, float* out);

}  // namespace wmaenc
