#include "tables.h"

namespace wmaenc {
namespace {
#include "codec_tables.inc"

constexpr CoefTable kCoefTables[6] = {
    {kCoefCodes0, 666, kRunsPerLevel0, 60},  {kCoefCodes1, 555, kRunsPerLevel1, 40},
    {kCoefCodes2, 1336, kRunsPerLevel2, 340}, {kCoefCodes3, 1072, kRunsPerLevel3, 180},
    {kCoefCodes4, 476, kRunsPerLevel4, 70},  {kCoefCodes5, 435, kRunsPerLevel5, 40},
};
}  // namespace

const CoefTable& CoefficientTable(int32_t index) { return kCoefTables[index]; }

const VlcCode& ExponentCode(int32_t delta) { return kExponentCodes[delta + 60]; }

const VlcCode& NoiseLevelCode(int32_t delta) { return kNoiseLevelCodes[delta + kNoiseLevelStep]; }

const uint8_t* FixedExponentBands(int32_t sampleRate, int32_t row) {
  if (sampleRate >= 44100) return kExponentBands44100[row];
  if (sampleRate >= 32000) return kExponentBands32000[row];
  if (sampleRate >= 22050) return kExponentBands22050[row];
  return nullptr;
}

const uint16_t* CriticalFrequencies() { return kCriticalFrequencies; }

}  // namespace wmaenc
