// The format's fixed tables, as the decoder reads them: the coefficient codes (six
// tables, two chosen per stream), the exponent code, the noise level code and the
// exponent band layouts.
#pragma once

#include <cstdint>

namespace wmaenc {

struct VlcCode {
  uint32_t code;    // the bits, most significant first
  uint8_t length;   // how many
};

// One run-level table: entry 0 is the escape, 1 the end of block, then for each level
// from 1 the codes of runs 0, 1, ... (runsPerLevel[level - 1] of them).
struct CoefTable {
  const VlcCode* codes;
  int32_t count;
  const uint16_t* runsPerLevel;
  int32_t levels;
};

constexpr int32_t kEscapeIndex = 0;
constexpr int32_t kEndOfBlockIndex = 1;

// Table 0..5: the stream uses tables 2t (channel 0 and left/right) and 2t + 1 (the side
// channel of a mid/side block), t from its rate and bits per sample.
const CoefTable& CoefficientTable(int32_t index);

// The exponent delta code: index delta + 60, deltas -60..60.
const VlcCode& ExponentCode(int32_t delta);

// The code of a noise band's level against the noise band before: index delta + 18,
// deltas -18..18 (dB).
constexpr int32_t kNoiseLevelStep = 18;
const VlcCode& NoiseLevelCode(int32_t delta);

// The fixed band layouts for rates of at least 22050 Hz; row 0 is the shortest block
// (128 samples' worth of frame bits) up to row 2: first value the band count, then the widths.
const uint8_t* FixedExponentBands(int32_t sampleRate, int32_t row);

// The 25 band edges in Hz the computed layouts use.
const uint16_t* CriticalFrequencies();

}  // namespace wmaenc
