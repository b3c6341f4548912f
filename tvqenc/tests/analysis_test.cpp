// The encoder's analysis units: MDCT and windows, block switching, LPC and LSFs, masking.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "bandwidth.h"
#include "block_switch.h"
#include "lpc.h"
#include "masking.h"
#include "mdct.h"
#include "log_exp.h"

namespace tvqenc {
namespace {

using psy::Bark;
using psy::MaskModel;
using psy::OuterEarDb;
using psy::QuietThresholdDb;

constexpr double kPi = 3.14159265358979323846;

// The orthonormal MDCT and its inverse straight from the definition.
double DirectCoefficient(const std::vector<float>& x, int32_t m, int32_t k) {
  double sum = 0.0;
  for (int32_t n = 0; n < 2 * m; ++n) sum += x[n] * std::cos(kPi / m * (n + 0.5 + m / 2.0) * (k + 0.5));
  return std::sqrt(2.0 / m) * sum;
}

TEST(Mdct, MatchesTheDefinition) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  for (int32_t m : {4, 16, 128, 2048}) {
    std::vector<float> x(2 * m), out(m);
    for (float& v : x) v = u(random);
    Mdct mdct(m);
    mdct.Forward(x.data(), out.data());
    for (int32_t k = 0; k < m; k += (m > 64 ? 37 : 1)) {
      EXPECT_NEAR(out[k], DirectCoefficient(x, m, k), 1e-3) << "m=" << m << " k=" << k;
    }
  }
}

// Blocks of different sizes and overlaps, analysed with BuildBlockWindow and resynthesised
// with the direct inverse and the same windows, add up to the input: the windows meet the
// overlap condition at every edge and the block placement is the decoder's.
TEST(Mdct, WindowedBlocksReconstructTheInput) {
  struct Block { int32_t m, left, right; };
  // A long block, a long block stopping into short ones, four short ones, a medium start.
  const std::vector<Block> blocks = {{64, 64, 64}, {64, 64, 8}, {16, 8, 8}, {16, 8, 8},
                                     {16, 8, 8}, {16, 8, 8}, {32, 8, 32}, {32, 32, 32}};
  int32_t length = 0;
  for (const Block& b : blocks) length += b.m;
  std::mt19937 random(3);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::vector<float> input(length + 256), output(length + 256, 0.0f);
  for (float& v : input) v = u(random);
  int32_t start = 128;  // centre region of the first block
  for (const Block& b : blocks) {
    const int32_t origin = start - b.m / 2;
    std::vector<float> window(2 * b.m), x(2 * b.m), coefficients(b.m);
    BuildBlockWindow(b.m, b.left, b.right, window.data());
    for (int32_t n = 0; n < 2 * b.m; ++n) x[n] = input[origin + n] * window[n];
    Mdct mdct(b.m);
    mdct.Forward(x.data(), coefficients.data());
    for (int32_t n = 0; n < 2 * b.m; ++n) {
      double y = 0.0;
      for (int32_t k = 0; k < b.m; ++k) {
        y += coefficients[k] * std::cos(kPi / b.m * (n + 0.5 + b.m / 2.0) * (k + 0.5));
      }
      output[origin + n] += static_cast<float>(std::sqrt(2.0 / b.m) * y * window[n]);
    }
    start += b.m;
  }
  // Between the middle of the first block's right overlap and the last block's left one.
  for (int32_t n = 128 + 64; n < 128 + length - 64; ++n) {
    ASSERT_NEAR(output[n], input[n], 1e-4) << n;
  }
}

TEST(BlockSwitch, TypeCodesAndTransitions) {
  struct Case { FrameKind previous, current; int32_t code; };
  const Case cases[] = {
      {kLong, kLong, 0},   {kLong, kMedium, 8},  {kLong, kShort, 2},
      {kMedium, kLong, 5}, {kMedium, kMedium, 8}, {kMedium, kShort, 2},
      {kShort, kLong, 3},  {kShort, kMedium, 4},  {kShort, kShort, 2},
  };
  for (const Case& c : cases) {
    const int32_t code = WindowTypeCode(c.previous, c.current);
    EXPECT_EQ(code, c.code);
    EXPECT_TRUE(TransitionAllowed(c.previous, code));
    FrameKind kind, start;
    ASSERT_TRUE(DecodeWindowType(code, &kind, &start));
    EXPECT_EQ(kind, c.current);
  }
  // The decoder's limits: after a short frame only 2, 3, 4; after a medium one 2-5, 7, 8.
  for (int32_t code = 0; code <= 8; ++code) {
    EXPECT_EQ(TransitionAllowed(kShort, code), code >= 2 && code <= 4) << code;
    EXPECT_EQ(TransitionAllowed(kMedium, code), code >= 2 && code != 6 && code != 0 && code != 1) << code;
    EXPECT_TRUE(TransitionAllowed(kLong, code));
  }
  EXPECT_FALSE(TransitionAllowed(kLong, 9));
}

TEST(BlockSwitch, DetectorFollowsAttacks) {
  const BlockSizes sizes{512, {8, 2, 1}};
  // A tone (radians per sample: 0.0085 is 60 Hz at 44.1 kHz) and a click: a step of 30000
  // for 20 samples where clickLevel is 0, otherwise a burst of noise that loud.
  struct Case {
    const char* name; int32_t clickAt; double toneLevel, toneStep, clickLevel; FrameKind expected, plain;
  };
  const Case cases[] = {
      {"silence", -1, 0.0, 0.05, 0.0, kLong, kLong},
      {"steady tone", -1, 10000.0, 0.05, 0.0, kLong, kLong},
      // The plain energies of a slow wave swing within its period: they ask for medium.
      {"loud bass", -1, 20000.0, 0.0085, 0.0, kLong, kMedium},
      {"click in the middle", 600, 0.0, 0.05, 0.0, kShort, kShort},
      {"click in the last quarter", 900, 0.0, 0.05, 0.0, kMedium, kMedium},
      {"click in the first quarter", 100, 0.0, 0.05, 0.0, kMedium, kMedium},
      // 16 dB under the bass: by the plain energies the frame barely changes.
      {"hat over a loud bass", 600, 20000.0, 0.0085, 3000.0, kShort, kMedium},
      // 26 dB under it, the high-passed rise is a softer onset's: medium blocks.
      {"faint hat over a loud bass", 600, 20000.0, 0.0085, 1000.0, kMedium, kMedium},
  };
  std::mt19937 random(5);
  std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
  for (const Case& c : cases) {
    std::vector<float> span(1026);
    for (int32_t n = 0; n < 1026; ++n) span[n] = static_cast<float>(c.toneLevel * std::sin(c.toneStep * n));
    if (c.clickAt >= 0) {
      for (int32_t n = c.clickAt; n < c.clickAt + 20; ++n) {
        span[n] = c.clickLevel > 0.0 ? span[n] + static_cast<float>(c.clickLevel) * noise(random) : 30000.0f;
      }
    }
    const float* spans[] = {span.data() + 2};  // two samples before for the high-pass
    EXPECT_EQ(ChooseFrameKind(sizes, spans, 1, true), c.expected) << c.name;
    EXPECT_EQ(ChooseFrameKind(sizes, spans, 1, false), c.plain) << c.name << ", plain";
  }
}

// Reverse water-filling by hand: powers 16, 4, 1 (and zeros). With 1 bit only the 16 lies
// above the level 4 (error 4 + 4 + 1); with 2 bits 16 and 4 lie above the level 2 (2 + 2 + 1);
// with none everything is lost; order does not matter.
TEST(BlockSwitch, WaterFillingErrorOfAnIdealCoder) {
  const float values[5] = {1.0f, 0.0f, -4.0f, 0.0f, 2.0f};
  const struct { double bits, error; } cases[] = {{0.0, 21.0}, {1.0, 9.0}, {2.0, 5.0}};
  float scratch[10];
  for (const auto& c : cases) {
    EXPECT_NEAR(WaterFillingError(values, 5, c.bits, scratch), c.error, 1e-9) << c.bits;
  }
  const float silence[4] = {};
  EXPECT_EQ(WaterFillingError(silence, 4, 3.0, scratch), 0.0);
  // Equal energy: one line costs less than the same energy spread over many.
  std::vector<float> line(64, 0.0f), spread(64, 1.0f), work(128);
  line[5] = 8.0f;
  EXPECT_LT(WaterFillingError(line.data(), 64, 16.0, work.data()),
            0.1 * WaterFillingError(spread.data(), 64, 16.0, work.data()));
  // A spectrum's worth of values over many decades (ties, zeros) against the walk written
  // out plainly: sorted by comparison, the level recomputed at every step.
  std::mt19937 random(3);
  std::uniform_real_distribution<float> decades(-6.0f, 4.0f);
  std::vector<float> spectrum(2048), powers(2048);
  work.resize(4096);
  for (float& v : spectrum) v = random() % 7 == 0 ? 0.0f : std::pow(10.0f, decades(random)) * (random() % 2 ? 1 : -1);
  spectrum[9] = spectrum[10];
  for (double bits : {30.0, 600.0, 3000.0}) {
    for (size_t i = 0; i < spectrum.size(); ++i) powers[i] = spectrum[i] * spectrum[i];
    std::sort(powers.begin(), powers.end(), std::greater<float>());
    double total = 0.0, logSum = 0.0, level = 0.0;
    for (float p : powers) total += p;
    size_t m = 0;
    while (m < powers.size() && powers[m] > 0.0f) {
      logSum += std::log2(double(powers[m]));
      total -= powers[m];
      level = std::exp2((logSum - 2.0 * bits) / ++m);
      if (m == powers.size() || powers[m] <= level) break;
    }
    const double want = m * level + total;
    EXPECT_NEAR(WaterFillingError(spectrum.data(), 2048, bits, work.data()), want, 1e-9 * want) << bits;
  }
}

TEST(Lpc, LsfEnvelopeIsTheAllPoleSpectrum) {
  // Power spectrum of a resonant all-pole filter; its LPC and LSFs must give the same shape.
  const int32_t bins = 256, order = 16;
  std::vector<double> power(bins);
  for (int32_t k = 0; k < bins; ++k) {
    const double w = (k + 0.5) * kPi / bins;
    const double r1 = 0.9, r2 = 0.8;
    const double a = std::abs(std::polar(1.0, 0.0) - std::polar(r1, 0.7 - w)) *
                     std::abs(std::polar(1.0, 0.0) - std::polar(r1, -0.7 - w)) *
                     std::abs(std::polar(1.0, 0.0) - std::polar(r2, 2.0 - w)) *
                     std::abs(std::polar(1.0, 0.0) - std::polar(r2, -2.0 - w));
    power[k] = 1.0 / (a * a);
  }
  double r[order + 1], a[order + 1], lsf[order];
  AutocorrelationFromPower(power.data(), bins, order, r);
  ASSERT_TRUE(LpcFromAutocorrelation(r, order, 0.0, 1.0, a));
  ASSERT_TRUE(LpcToLsf(a, order, lsf));
  for (int32_t i = 1; i < order; ++i) EXPECT_LT(lsf[i - 1], lsf[i]);
  // Envelope / power is one constant over the band (within 3%).
  double ratio0 = 0.0;
  for (int32_t k = 0; k < bins; k += 5) {
    const double ratio = LsfEnvelope(lsf, order, (k + 0.5) * kPi / bins) / power[k];
    if (k == 0) ratio0 = ratio;
    EXPECT_NEAR(ratio / ratio0, 1.0, 0.03) << k;
  }
}

TEST(Lpc, AutocorrelationFromCosineRowsIsTheRecurrencesBitForBit) {
  // The frame encoder sums over stored cosine rows; its LPC must be the recurrence's exactly
  // (odd and even orders, the row stride's padding, the block sizes of the modes).
  std::mt19937 random(9);
  std::uniform_real_distribution<double> level(-12.0, 3.0);
  for (const int32_t bins : {64, 256, 2048}) {
    for (const int32_t order : {1, 12, 17, kMaxLpcOrder}) {
      std::vector<double> power(bins);
      for (double& p : power) p = std::pow(10.0, level(random));
      const std::vector<double> cosines = BinCosines(bins);
      const std::vector<double> rows = BinCosineRows(cosines.data(), bins, order);
      double want[kMaxLpcOrder + 1], got[kMaxLpcOrder + 1];
      AutocorrelationFromPower(power.data(), cosines.data(), bins, order, want);
      AutocorrelationFromRows(power.data(), rows.data(), bins, order, got);
      EXPECT_EQ(std::memcmp(want, got, sizeof(double) * (order + 1)), 0) << bins << " " << order;
    }
  }
}

TEST(Lpc, SilenceGivesTheFlatPredictor) {
  double r[13] = {0.0}, a[13], lsf[12];
  EXPECT_FALSE(LpcFromAutocorrelation(r, 12, 0.01, 0.99, a));
  EXPECT_TRUE(LpcToLsf(a, 12, lsf));
  for (int32_t i = 0; i < 12; ++i) EXPECT_NEAR(lsf[i], kPi * (i + 1) / 13, 1e-6);
}

// The per-frame logarithm and power against the runtime's, over every decade the encoder
// meets, across the mantissa's fold at sqrt(1/2) and the powers' rounding to whole
// exponents; edge inputs as the runtime gives them.
TEST(LogExp, AgreeWithTheRuntime) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> exponent(-70.0, 70.0), share(-1.0, 1.0);
  auto relative = [](double got, double want) {
    return std::fabs(got - want) / std::max(std::fabs(want), 1.0e-300);
  };
  double worstLog = 0.0, worstPower = 0.0;
  for (int i = 0; i < 200000; ++i) {
    const double x = std::pow(10.0, exponent(random)), p = share(random);
    const double want = std::log(x);
    worstLog = std::max(worstLog, std::fabs(NaturalLog(x) - want) / std::max(std::fabs(want), 1.0));
    worstPower = std::max(worstPower, relative(Power(x, p), std::pow(x, p)));
  }
  for (double x : {0.70710678118654752, 0.70710678118654757, 1.0, 1.0 + 1e-12, 2.0, 1e-30})
    worstLog = std::max(worstLog, std::fabs(NaturalLog(x) - std::log(x)) / std::max(std::fabs(std::log(x)), 1.0));
  for (double y : {-1022.0, -0.5, -0.49999999, 0.0, 0.5, 0.50000001, 3.75, 1023.9})
    worstPower = std::max(worstPower, relative(PowerOfTwo(y), std::exp2(y)));
  EXPECT_LT(worstLog, 4e-15);
  EXPECT_LT(worstPower, 2e-13);  // log's error times the exponent's size (up to 160)
  EXPECT_EQ(NaturalLog(0.0), -HUGE_VAL);
  EXPECT_TRUE(std::isnan(NaturalLog(-1.0)));
  EXPECT_EQ(NaturalLog(HUGE_VAL), HUGE_VAL);
  EXPECT_EQ(NaturalLog(1e-310), std::log(1e-310));  // subnormal: the runtime's split
  EXPECT_EQ(PowerOfTwo(1024.0), HUGE_VAL);
  EXPECT_EQ(PowerOfTwo(-1100.0), 0.0);
  EXPECT_TRUE(std::isnan(PowerOfTwo(NAN)));
  EXPECT_EQ(Power(0.0, 0.3), 0.0);
  EXPECT_EQ(Power(0.0, -0.65), HUGE_VAL);
}

TEST(LogExp, PowersAndLogsOfArraysAreTheScalarsBitForBit) {
  // The array forms, on their vector path where there is one: the very values of Power and
  // NaturalLog, in place, for plain values and for every case that leaves the vector path
  // (zero, negative, subnormal, infinite, not a number, a result past the exponent's range).
  std::mt19937 random(11);
  std::uniform_real_distribution<double> exponent(-40.0, 40.0);
  std::vector<double> x(403);
  for (double& v : x) v = std::pow(10.0, exponent(random));
  const double odd[] = {0.0, -2.0, 1e-310, HUGE_VAL, NAN, 1e300, 1e-300, 0.70710678118654752,
                        0.70710678118654757, 1.0, 2.0};
  for (size_t i = 0; i < sizeof odd / sizeof odd[0]; ++i) x[37 * i + 5] = odd[i];
  std::vector<double> logs = x;
  LogOfEach(logs.data(), logs.data(), static_cast<int32_t>(logs.size()));
  for (size_t i = 0; i < x.size(); ++i) {
    const double want = NaturalLog(x[i]);
    EXPECT_TRUE(std::memcmp(&logs[i], &want, sizeof want) == 0 || (std::isnan(logs[i]) && std::isnan(want)))
        << "log of " << x[i] << ": " << logs[i] << " against " << want;
  }
  for (const double p : {0.3, -0.65, -0.8, 3.5, -4.0, 0.0, HUGE_VAL}) {
    std::vector<double> got = x;
    PowerOfEach(got.data(), p, got.data(), static_cast<int32_t>(got.size()));
    for (size_t i = 0; i < x.size(); ++i) {
      const double want = Power(x[i], p);
      EXPECT_TRUE(std::memcmp(&got[i], &want, sizeof want) == 0 || (std::isnan(got[i]) && std::isnan(want)))
          << "x " << x[i] << " p " << p << ": " << got[i] << " against " << want;
    }
  }
}

// One loud band among silent ones: the threshold in the band itself is its power per bin
// 12 dB down; a band a bark above hears it 10 dB per bark lower, a band a bark below 25 dB
// per bark lower, both seen through the outer ear; far away the threshold in quiet takes
// over. Bin by bin, a lone line spreads 6 dB per bark either way from 27 dB under itself.
TEST(MaskModel, SpreadsAsTheSlopesSay) {
  const int32_t rate = 44100, size = 512;
  std::vector<uint16_t> widths(size / 8, 8);  // 64 bands of 8 bins, 43 Hz a bin
  MaskModel model(rate, size, widths.data(), static_cast<int32_t>(widths.size()));
  const double binHz = 0.5 * rate / size;
  auto db = [](double v) { return 10.0 * std::log10(v); };
  const int32_t loud = 24;  // bins 192-199, about 8.4 kHz
  std::vector<float> power(size, 0.0f), mask(size);
  for (int32_t k = loud * 8; k < loud * 8 + 8; ++k) power[k] = 1.0e8f;
  model.Threshold(power.data(), mask.data());
  auto centre = [&](int32_t band) { return (band * 8 + 4) * binHz; };
  struct Case { int32_t band; double slope; };
  for (const Case& c : {Case{loud, 0.0}, Case{loud + 1, -10.0}, Case{loud + 3, -10.0}, Case{loud - 1, 25.0}}) {
    const double expected = db(1.0e8) - 12.0 + c.slope * (Bark(centre(c.band)) - Bark(centre(loud))) +
                            OuterEarDb(centre(loud)) - OuterEarDb(centre(c.band));
    EXPECT_NEAR(db(mask[c.band * 8]), expected, 0.01) << "band " << c.band;
  }
  // Far below the masker only the threshold in quiet is left: a band whose most sensitive
  // bin is at 340 Hz (8.4 dB) lies 13 dB above one at 3.4 kHz.
  EXPECT_FLOAT_EQ(mask[2], model.Quiet(2));
  EXPECT_NEAR(db(model.Quiet(2)) - db(model.Quiet(80)), 13.4, 0.5);
  EXPECT_NEAR(QuietThresholdDb(1000.0), 3.4, 0.1);
  EXPECT_GT(QuietThresholdDb(16000.0), 40.0);

  std::fill(power.begin(), power.end(), 0.0f);
  const int32_t line = 100;
  power[line] = 1.0e10f;
  model.FineThreshold(power.data(), mask.data());
  for (int32_t k : {line, line + 5, line - 5, line + 40}) {
    const double hz = (k + 0.5) * binHz, lineHz = (line + 0.5) * binHz;
    const double expected = db(1.0e10) - 27.0 - 6.0 * std::fabs(Bark(hz) - Bark(lineHz)) +
                            OuterEarDb(lineHz) - OuterEarDb(hz);
    EXPECT_NEAR(db(mask[k]), std::max(expected, db(model.Quiet(k))), 0.05) << "bin " << k;
  }
}

// The coded bandwidth's low-pass: 44.1 kHz, 512 bins of 43 Hz, cutoff 17.5 kHz (bin 405,
// slope from bin 385). What lies above goes where it is a faint tail, and stays where it
// is the sound itself or already next to nothing; below the slope nothing changes.
TEST(BandLimiter, CutsOnlyAFaintTail) {
  EXPECT_EQ(CodedBandwidthHz(44, 48), 17500.0);
  EXPECT_EQ(CodedBandwidthHz(22, 20), 7000.0);
  EXPECT_EQ(CodedBandwidthHz(22, 24), 7000.0);
  EXPECT_GE(CodedBandwidthHz(22, 32), 11025.0);
  const BandLimiter limiter(CodedBandwidthHz(44, 48), 44100, 512);
  struct Case { const char* name; float low, high; bool cut; };
  const Case cases[] = {
      {"hiss 20 dB under the band", 1000.0f, 100.0f, true},
      // The top 127 bins against the low 100: a fifth of the power, then a third.
      {"a click's white top", 1000.0f, 444.0f, true},
      {"a top with a third of the power", 1000.0f, 628.0f, false},
      {"only the top band", 0.0f, 100.0f, false},
      {"top band as loud as the rest", 100.0f, 100.0f, false},
      {"nothing above", 1000.0f, 0.0f, false},
      {"a top 70 dB under the band, left as it is", 1000.0f, 0.3f, false},
      {"a top 50 dB under the band", 1000.0f, 3.0f, true},
      {"silence", 0.0f, 0.0f, false},
  };
  for (const Case& c : cases) {
    std::vector<float> left(512), right(512);
    for (int32_t k = 0; k < 512; ++k) {
      const float level = k < 100 ? c.low : k >= 385 ? c.high : 0.0f;
      left[k] = (k % 2 ? 1.0f : -1.0f) * level;
      right[k] = 0.5f * left[k];
    }
    const std::vector<float> before = left;
    float* blocks[2] = {left.data(), right.data()};
    EXPECT_EQ(limiter.Apply(blocks, 2), c.cut) << c.name;
    for (int32_t k = 0; k < 385; ++k) ASSERT_EQ(left[k], before[k]) << c.name << " bin " << k;
    for (int32_t k = 406; k < 512; ++k) {
      ASSERT_EQ(left[k], c.cut ? 0.0f : before[k]) << c.name << " bin " << k;
      ASSERT_EQ(right[k], c.cut ? 0.0f : 0.5f * before[k]) << c.name << " bin " << k;
    }
    if (c.cut && before[395] != 0.0f) {
      EXPECT_LT(std::fabs(left[395]), std::fabs(before[395])) << c.name;
    }
  }
}

}  // namespace
}  // namespace tvqenc
