// The bit rates offered in the quality dialog and the options word that selects one.
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

// kbps per channel for an options word.
inline uint32_t BitRateFromOptions(uint32_t options) {
  return BitRatesPerChannel[RateIndexFromOptions(options)];
}

}  // namespace vqf
