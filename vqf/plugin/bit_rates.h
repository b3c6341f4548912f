// The bit rates offered in the quality dialog and the options word that selects one, and
// the sampling rates VQF has modes for.
#pragma once

#include <stdint.h>

namespace vqf {

// Entries 1 to 8 of the quality list, in kbps per channel.
constexpr uint32_t kBitRateCount = 8;
extern const uint16_t BitRatesPerChannel[kBitRateCount];

// The entry the host gets when it has none yet: 48 kbps per channel.
constexpr uint32_t kDefaultOptions = 8;

// Options word (1-based entry) to a 0-based index; anything out of range selects the default.
uint32_t RateIndexFromOptions(uint32_t options);

// The options word whose entry is `kbpsPerChannel`; 0 when no entry is.
uint32_t OptionsForBitRate(uint32_t kbpsPerChannel);

// Whether VQF has modes at this sampling rate: 8000, 11025, 16000, 22050 and 44100 Hz
// exactly. Any other rate would be written under the nearest mode's rate and play at the
// wrong speed; the host converts to the suggested 44100 Hz instead.
bool IsVqfSampleRate(long hz);

// kbps per channel for an options word.
inline uint32_t BitRateFromOptions(uint32_t options) {
  return BitRatesPerChannel[RateIndexFromOptions(options)];
}

}  // namespace vqf
