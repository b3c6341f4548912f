// The decoder model against an independent decoder: for each of the 18 modes a VQF file of
// random frames (every window type and every allowed transition between block kinds) is
// decoded by ffmpeg and by the model, and the two must agree sample for sample.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <algorithm>
#include <string>
#include <vector>

#include "agreement_stream.h"
#include "vqf_test_file.h"

namespace {

// Of full scale: the worst difference met is 3e-7; a table entry off by 0.6% moves the
// output by 3.7e-5.
constexpr double kTolerance = 3e-5;

struct ModeCase {
  int32_t kHz, kbps, channels;
};

class TwinVqAgreement : public ::testing::TestWithParam<ModeCase> {};

TEST_P(TwinVqAgreement, ModelMatchesFfmpegSampleForSample) {
  const ModeCase c = GetParam();
  twinvq::StreamSetup setup;
  ASSERT_TRUE(setup.Init(c.kHz, c.kbps, c.channels));
  // TWINVQ_AGREEMENT_SEED picks other random streams (for longer runs by hand).
  const char* seedText = std::getenv("TWINVQ_AGREEMENT_SEED");
  const uint32_t seed = seedText ? static_cast<uint32_t>(std::strtoul(seedText, nullptr, 10)) : 0;
  ASSERT_FALSE(twinvq_test::TiedPeriodIndices(setup).empty());
  const twinvq_test::AgreementStream stream = twinvq_test::MakeAgreementStream(setup, seed);
  const std::vector<float>& expected = stream.expected;
  const int32_t perFrame = setup.frameSize() * c.channels;
  const std::string name = "twinvq_" + std::to_string(c.kHz) + "_" + std::to_string(c.kbps) +
                           "_" + std::to_string(c.channels);
  const std::vector<float> decoded =
      twinvq_test::DecodeWithFfmpeg<float>(twinvq_test::MakeVqf(setup, stream.frames), name, "f32le");
  ASSERT_EQ(decoded.size(), expected.size()) << "is ffmpeg installed?";

  double largest = 0, peak = 0;
  size_t worst = 0;
  for (size_t i = 0; i < decoded.size(); ++i) {
    const double d = std::fabs(double(decoded[i]) - expected[i]);
    if (d > largest) {
      largest = d;
      worst = i;
    }
    peak = std::max(peak, std::fabs(double(decoded[i])));
  }
  std::printf("mode %d/%d ch %d: %zu samples, peak %.3g, largest difference %.3g\n", c.kHz,
              c.kbps, c.channels, decoded.size(), peak, largest);
  EXPECT_LE(largest, kTolerance) << "at sample " << worst << " (frame " << worst / perFrame + 2 << ")";
}

std::vector<ModeCase> AllModes() {
  std::vector<ModeCase> cases;
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    for (int32_t ch = 1; ch <= 2; ++ch) cases.push_back({m.kHzCode, m.kbpsPerChannel, ch});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, TwinVqAgreement, ::testing::ValuesIn(AllModes()),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                           return "k" + std::to_string(info.param.kHz) + "_" +
                                  std::to_string(info.param.kbps) + "kbps_" +
                                  std::to_string(info.param.channels) + "ch";
                         });

}  // namespace
