#include "bit_rates.h"

namespace vqf {

const uint16_t BitRatesPerChannel[kBitRateCount] = {8, 10, 16, 20, 24, 32, 40, 48};

uint32_t RateIndexFromOptions(uint32_t options) {
  if (options >= 1 && options <= kBitRateCount) return options - 1;
  return kDefaultOptions - 1;
}

uint32_t OptionsForBitRate(uint32_t kbpsPerChannel) {
  for (uint32_t i = 0; i < kBitRateCount; ++i)
    if (BitRatesPerChannel[i] == kbpsPerChannel) return i + 1;
  return 0;
}

bool IsVqfSampleRate(long hz) {
  return hz == 8000 || hz == 11025 || hz == 16000 || hz == 22050 || hz == 44100;
}

}  // namespace vqf
