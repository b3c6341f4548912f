// The rate modes and their tables.
#include "tables.h"

namespace twinvq {
namespace {
#include "codebooks.inc"
}  // namespace

// Per mode: kHz, kbps/ch, Hz, frame size; short, medium, long block parameters (sub-blocks,
// bark band widths and count, bark codebook, bark values and bits, main codebooks, stride);
// LSP order, codebook, bits of the history, first-stage and split indices, splits; peak
// codebook, period bits, codebook bits, shape length, gain bits, width factor.
const RateMode kRateModes[kRateModeCount] = {
    {8, 8, 8000, 512,
     {{8, kBands08Short64, 10, kBark08Short, 1, 5, {kVq0808Short0, kVq0808Short1}, 18},
      {2, kBands08Medium256, 20, kBark08Medium, 2, 5, {kVq0808Medium0, kVq0808Medium1}, 16},
      {1, kBands08Long512, 30, kBark08Long, 3, 6, {kVq0808Long0, kVq0808Long1}, 17}},
     12, kLsp08, 1, 5, 3, 3, kPeak08, 8, 28, 20, 6, 40},
    {11, 8, 11025, 512,
     {{8, kBands11Short64, 10, kBark11Short, 1, 5, {kVq1108Short0, kVq1108Short1}, 29},
      {2, kBands11Medium256, 20, kBark11Medium, 2, 5, {kVq1108Medium0, kVq1108Medium1}, 24},
      {1, kBands11Long512, 30, kBark11Long, 3, 6, {kVq1108Long0, kVq1108Long1}, 27}},
     16, kLsp11, 1, 6, 4, 3, kPeak11, 9, 36, 30, 7, 90},
    {11, 10, 11025, 512,
     {{8, kBands11Short64, 10, kBark11Short, 1, 5, {kVq1110Short0, kVq1110Short1}, 21},
      {2, kBands11Medium256, 20, kBark11Medium, 2, 5, {kVq1110Medium0, kVq1110Medium1}, 18},
      {1, kBands11Long512, 30, kBark11Long, 3, 6, {kVq1110Long0, kVq1110Long1}, 20}},
     16, kLsp11, 1, 6, 4, 3, kPeak11, 9, 36, 30, 7, 90},
    {16, 16, 16000, 1024,
     {{8, kBands16Short128, 10, kBark16Short, 1, 5, {kVq1616Short0, kVq1616Short1}, 16},
      {2, kBands16Medium512, 20, kBark16Medium, 2, 5, {kVq1616Medium0, kVq1616Medium1}, 15},
      {1, kBands16Long1024, 30, kBark16Long, 3, 6, {kVq1616Long0, kVq1616Long1}, 16}},
     16, kLsp16, 1, 6, 4, 3, kPeak16, 9, 56, 60, 7, 180},
    {22, 20, 22050, 1024,
     {{8, kBands22Short128, 10, kBark22v1Short, 1, 6, {kVq2220Short0, kVq2220Short1}, 18},
      {2, kBands22Medium512, 20, kBark22v1Medium, 2, 6, {kVq2220Medium0, kVq2220Medium1}, 17},
      {1, kBands22Long1024, 32, kBark22v1Long, 4, 6, {kVq2220Long0, kVq2220Long1}, 18}},
     16, kLsp22v1, 1, 6, 4, 3, kPeak22v1, 9, 56, 36, 7, 144},
    {22, 24, 22050, 1024,
     {{8, kBands22Short128, 10, kBark22v1Short, 1, 6, {kVq2224Short0, kVq2224Short1}, 15},
      {2, kBands22Medium512, 20, kBark22v1Medium, 2, 6, {kVq2224Medium0, kVq2224Medium1}, 14},
      {1, kBands22Long1024, 32, kBark22v1Long, 4, 6, {kVq2224Long0, kVq2224Long1}, 15}},
     16, kLsp22v1, 1, 6, 4, 3, kPeak22v1, 9, 56, 36, 7, 144},
    {22, 32, 22050, 512,
     {{4, kBands22Short128, 10, kBark22v2Short, 1, 6, {kVq2232Short0, kVq2232Short1}, 11},
      {2, kBands22Medium256, 20, kBark22v2Medium, 2, 6, {kVq2232Medium0, kVq2232Medium1}, 11},
      {1, kBands22Long512, 32, kBark22v2Long, 4, 6, {kVq2232Long0, kVq2232Long1}, 12}},
     16, kLsp22v2, 1, 6, 4, 4, kPeak22v2, 9, 56, 36, 7, 72},
    {44, 40, 44100, 2048,
     {{16, kBands44Short128, 10, kBark44Short, 1, 6, {kVq4440Short0, kVq4440Short1}, 18},
      {4, kBands44Medium512, 20, kBark44Medium, 2, 6, {kVq4440Medium0, kVq4440Medium1}, 17},
      {1, kBands44Long2048, 40, kBark44Long, 4, 6, {kVq4440Long0, kVq4440Long1}, 17}},
     20, kLsp44, 1, 6, 4, 4, kPeak44, 9, 84, 54, 7, 432},
    {44, 48, 44100, 2048,
     {{16, kBands44Short128, 10, kBark44Short, 1, 6, {kVq4448Short0, kVq4448Short1}, 15},
      {4, kBands44Medium512, 20, kBark44Medium, 2, 6, {kVq4448Medium0, kVq4448Medium1}, 14},
      {1, kBands44Long2048, 40, kBark44Long, 4, 6, {kVq4448Long0, kVq4448Long1}, 14}},
     20, kLsp44, 1, 6, 4, 4, kPeak44, 9, 84, 54, 7, 432},
};

const RateMode* FindRateMode(int32_t kHzCode, int32_t kbpsPerChannel) {
  for (const RateMode& mode : kRateModes) {
    if (mode.kHzCode == kHzCode && mode.kbpsPerChannel == kbpsPerChannel) return &mode;
  }
  return nullptr;
}

// Row sets by peak number / 5, shared between peak numbers as the decoder's tables are.
static_assert(sizeof kTies5 == 5 * 13 && sizeof kTies15 == 15 * 11 && sizeof kTies25 == 25 * 9 &&
                  sizeof kTies35 == 35 * 11 && sizeof kTies45 == 45 * 10 && sizeof kTies55 == 55 * 9,
              "tie tables: width x rows");
const TieRows kPeakTieRows[13] = {
    {0, 0, nullptr},
    {5, 13, kTies5},   {5, 13, kTies5},   {15, 11, kTies15}, {5, 13, kTies5},
    {25, 9, kTies25},  {15, 11, kTies15}, {35, 11, kTies35}, {5, 13, kTies5},
    {45, 10, kTies45}, {25, 9, kTies25},  {55, 9, kTies55},  {15, 11, kTies15},
};

template <typename T, int N>
constexpr bool IsSignedElement(const T (&)[N]) {
  return T(-1) < T(0);
}

#define STORED(table) \
  {#table, int32_t{sizeof table[0]}, IsSignedElement(table), int32_t{sizeof table / sizeof table[0]}, table}
const StoredTable kStoredTables[] = {
    STORED(kBands08Long512), STORED(kBands11Long512), STORED(kBands16Long1024),
    STORED(kBands22Long1024), STORED(kBands22Long512), STORED(kBands44Long2048),
    STORED(kBands08Medium256), STORED(kBands11Medium256), STORED(kBands16Medium512),
    STORED(kBands22Medium256), STORED(kBands22Medium512), STORED(kBands44Medium512),
    STORED(kBands08Short64), STORED(kBands11Short64), STORED(kBands16Short128),
    STORED(kBands22Short128), STORED(kBands44Short128),
    STORED(kVq0808Long0), STORED(kVq0808Long1), STORED(kVq0808Short0), STORED(kVq0808Short1),
    STORED(kVq0808Medium0), STORED(kVq0808Medium1),
    STORED(kVq1108Long0), STORED(kVq1108Long1), STORED(kVq1108Short0), STORED(kVq1108Short1),
    STORED(kVq1108Medium0), STORED(kVq1108Medium1),
    STORED(kVq1110Long0), STORED(kVq1110Long1), STORED(kVq1110Short0), STORED(kVq1110Short1),
    STORED(kVq1110Medium0), STORED(kVq1110Medium1),
    STORED(kVq1616Long0), STORED(kVq1616Long1), STORED(kVq1616Short0), STORED(kVq1616Short1),
    STORED(kVq1616Medium0), STORED(kVq1616Medium1),
    STORED(kVq2220Long0), STORED(kVq2220Long1), STORED(kVq2220Short0), STORED(kVq2220Short1),
    STORED(kVq2220Medium0), STORED(kVq2220Medium1),
    STORED(kVq2224Long0), STORED(kVq2224Long1), STORED(kVq2224Short0), STORED(kVq2224Short1),
    STORED(kVq2224Medium0), STORED(kVq2224Medium1),
    STORED(kVq2232Long0), STORED(kVq2232Long1), STORED(kVq2232Short0), STORED(kVq2232Short1),
    STORED(kVq2232Medium0), STORED(kVq2232Medium1),
    STORED(kVq4440Long0), STORED(kVq4440Long1), STORED(kVq4440Short0), STORED(kVq4440Short1),
    STORED(kVq4440Medium0), STORED(kVq4440Medium1),
    STORED(kVq4448Long0), STORED(kVq4448Long1), STORED(kVq4448Short0), STORED(kVq4448Short1),
    STORED(kVq4448Medium0), STORED(kVq4448Medium1),
    STORED(kBark08Long), STORED(kBark08Medium), STORED(kBark08Short),
    STORED(kBark11Long), STORED(kBark11Medium), STORED(kBark11Short),
    STORED(kBark16Long), STORED(kBark16Medium), STORED(kBark16Short),
    STORED(kBark22v1Long), STORED(kBark22v1Medium), STORED(kBark22v1Short),
    STORED(kBark22v2Long), STORED(kBark22v2Medium), STORED(kBark22v2Short),
    STORED(kBark44Long), STORED(kBark44Medium), STORED(kBark44Short),
    STORED(kPeak08), STORED(kPeak11), STORED(kPeak16), STORED(kPeak22v1), STORED(kPeak22v2),
    STORED(kPeak44),
    STORED(kLsp08), STORED(kLsp11), STORED(kLsp16), STORED(kLsp22v1), STORED(kLsp22v2),
    STORED(kLsp44),
    STORED(kTies35), STORED(kTies5), STORED(kTies45), STORED(kTies25), STORED(kTies55),
    STORED(kTies15),
};
#undef STORED
const int32_t kStoredTableCount = int32_t{sizeof kStoredTables / sizeof kStoredTables[0]};

}  // namespace twinvq
