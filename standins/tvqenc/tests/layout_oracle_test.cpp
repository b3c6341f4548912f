// The stand-in's own derivation of the 18 frame layouts (from the modes' bit budgets) as an
// oracle for the codec core's StreamSetup, which our TVQENC.DLL reports: every mode, every
// field of the configuration and every pair width agree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "stream_setup.h"
#include "tables.h"
#include "twinvq_layout.h"

namespace {

// The derived frame layout of every one of the 18 modes equals the layout the stand-in
// encoder library reports (an independent derivation from the modes' bit budgets).
TEST(StandinLayoutOracle, CoreLayoutsMatchTheStandinsDerivation) {
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    for (int32_t channels = 1; channels <= 2; ++channels) {
      SCOPED_TRACE(std::to_string(m.kHzCode) + "/" + std::to_string(m.kbpsPerChannel) + " ch " +
                   std::to_string(channels));
      twinvq::StreamSetup setup;
      ASSERT_TRUE(setup.Init(m.kHzCode, m.kbpsPerChannel, channels));
      static TwinVqLayout reference;
      ASSERT_TRUE(ComputeTwinVqLayout(channels - 1, m.kbpsPerChannel * channels, m.kHzCode,
                                      &reference));
      EXPECT_EQ(setup.frameBits(), reference.frameBits);
      EncoderConfig config;
      setup.FillEncoderConfig(&config);
      EXPECT_EQ(std::memcmp(&config, &reference.config, sizeof config), 0);
      for (int32_t entry = 0; entry < 4; ++entry) {
        const int32_t pairs = setup.part(static_cast<twinvq::BlockKind>(entry)).pairs;
        std::vector<int32_t> w0(pairs), w1(pairs);
        setup.FillCodebookWidths(entry, w0.data(), w1.data());
        EXPECT_EQ(w0, std::vector<int32_t>(reference.widths0[entry], reference.widths0[entry] + pairs));
        EXPECT_EQ(w1, std::vector<int32_t>(reference.widths1[entry], reference.widths1[entry] + pairs));
      }
    }
  }
}

}  // namespace
