#include "bit_rates.h"

namespace vqf {

const uint16_t BitRatesPerChannel[kBitRateCount] = {8, 10, 16, 20, 24, 32, 40, 48};

uint32_t RateIndexFromOptions(uint32_t options) {
  if (options >= 1 && options <= kBitRateCount) return options - 1;
  return kDefaultOptions - 1;
}

}  // namespace vqf
