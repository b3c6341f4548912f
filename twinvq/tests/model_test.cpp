// The decoder model's own contract: a reset brings back a fresh decoder, refused frames
// leave the state alone, and values of any size never reach outside a table.
#include "decoder_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "random_frames.h"

namespace {

TEST(TwinVqModel, ResetGivesTheSameOutputAsAFreshModel) {
  twinvq::StreamSetup setup;
  ASSERT_TRUE(setup.Init(22, 32, 2));
  std::mt19937 rng(9);
  std::vector<twinvq::FrameValues> frames;
  for (int32_t type : {0, 5, 7, 2, 3, 1}) frames.push_back(twinvq_test::RandomFrame(setup, type, rng));
  twinvq::DecoderModel model(setup);
  std::vector<float> first, second, out(setup.frameSize() * 2);
  for (const auto& f : frames) {
    ASSERT_TRUE(model.DecodeFrame(f, out.data()));
    first.insert(first.end(), out.begin(), out.end());
  }
  model.Reset();
  for (const auto& f : frames) {
    ASSERT_TRUE(model.DecodeFrame(f, out.data()));
    second.insert(second.end(), out.begin(), out.end());
  }
  EXPECT_EQ(first, second);
}

TEST(TwinVqModel, RefusedFrameLeavesTheStateAlone) {
  twinvq::StreamSetup setup;
  ASSERT_TRUE(setup.Init(8, 8, 1));
  std::mt19937 rng(4);
  const twinvq::FrameValues a = twinvq_test::RandomFrame(setup, 0, rng);
  const twinvq::FrameValues b = twinvq_test::RandomFrame(setup, 0, rng);
  twinvq::FrameValues tooWide = b;
  tooWide.lspFirst[0] = 1 << 5;
  twinvq::DecoderModel plain(setup), refused(setup);
  std::vector<float> x(setup.frameSize()), y(setup.frameSize());
  ASSERT_TRUE(plain.DecodeFrame(a, x.data()));
  ASSERT_TRUE(refused.DecodeFrame(a, y.data()));
  EXPECT_FALSE(refused.DecodeFrame(tooWide, y.data()));
  ASSERT_TRUE(plain.DecodeFrame(b, x.data()));
  ASSERT_TRUE(refused.DecodeFrame(b, y.data()));
  EXPECT_EQ(x, y);
}

// An encoder's try at a frame: decoded, a look at the frame after it, taken back, and
// another frame decoded in its place. What follows must sound as from a decoder that saw
// only the frames kept, through block changes as well (types as the frames give them).
TEST(TwinVqModel, TriesTakenBackLeaveNoTrace) {
  twinvq::StreamSetup setup;
  ASSERT_TRUE(setup.Init(44, 48, 2));
  std::mt19937 rng(21);
  const int32_t types[] = {0, 0, 5, 7, 2, 3, 1, 0};
  twinvq::DecoderModel plain(setup), tried(setup);
  const size_t samples = size_t(setup.frameSize()) * 2;
  std::vector<float> x(samples), y(samples), spectrum(samples);
  for (int32_t type : types) {
    const twinvq::FrameValues kept = twinvq_test::RandomFrame(setup, type, rng);
    const twinvq::FrameValues rejected = twinvq_test::RandomFrame(setup, type, rng);
    tried.DecodeSpectrum(rejected, spectrum.data());
    tried.Synthesize(type, spectrum.data(), y.data());
    tried.SynthesizeAhead(0, spectrum.data(), y.data());
    tried.UndoFrame();
    ASSERT_TRUE(plain.DecodeFrame(kept, x.data()));
    ASSERT_TRUE(tried.DecodeFrame(kept, y.data()));
    ASSERT_EQ(x, y) << "window type " << type;
  }
}

// Arbitrary 32-bit values in every field, straight into the stages (the sanitizers watch).
TEST(TwinVqModel, StagesStayInsideTheTablesForAnyValues) {
  std::mt19937 rng(12);
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    twinvq::StreamSetup setup;
    ASSERT_TRUE(setup.Init(m.kHzCode, m.kbpsPerChannel, 2));
    twinvq::DecoderModel model(setup);
    std::vector<float> spectrum(setup.frameSize() * 2), out(setup.frameSize() * 2);
    for (int32_t type = 0; type < 12; ++type) {
      twinvq::FrameValues v;
      auto* raw = reinterpret_cast<int32_t*>(&v);
      for (size_t i = 0; i < sizeof v / sizeof(int32_t); ++i) raw[i] = static_cast<int32_t>(rng());
      v.windowType = type;
      model.DecodeSpectrum(v, spectrum.data());
      model.Synthesize(v.windowType, spectrum.data(), out.data());
    }
  }
}

}  // namespace

namespace {

// Gains follow the inverse mu-law of the index's bin centre, C·((1 + mu)^(y/C) - 1)/mu, with
// y no larger than C (the top index's centre lies beyond it).
double MuLaw(double y, double clip, double mu) {
  return clip * (std::pow(1 + mu, std::min(y, clip) / clip) - 1) / mu;
}

TEST(TwinVqModel, GainsFollowTheirMuLawCurves) {
  for (int32_t q : {0, 1, 100, 200, 255}) {
    const double expected = MuLaw(13000.0 * (q + 0.5) / 255, 13000, 100) / 8192;
    EXPECT_NEAR(twinvq::LongBlockGain(q), expected, expected * 1e-5) << q;
    for (int32_t s : {0, 17, 31}) {
      const double sub = MuLaw(13000.0 * (q + 0.5) / 255, 13000, 100) / (1 << 23) *
                         MuLaw(4500.0 * (s + 0.5) / 31, 4500, 100);
      EXPECT_NEAR(twinvq::SubBlockGain(q, s), sub, sub * 1e-5) << q << " " << s;
    }
  }
}

TEST(TwinVqModel, LspSplitsEndWhereTheModesPutThem) {
  const struct {
    int32_t kHz, kbps;
    std::vector<int32_t> ends;
  } cases[] = {{8, 8, {3, 8, 12}}, {16, 16, {4, 11, 16}}, {22, 32, {3, 7, 11, 16}}, {44, 48, {4, 9, 14, 20}}};
  for (const auto& c : cases) {
    const twinvq::RateMode* m = twinvq::FindRateMode(c.kHz, c.kbps);
    ASSERT_NE(m, nullptr);
    std::vector<int32_t> ends;
    for (int32_t s = 0; s < m->lspSplits; ++s) ends.push_back(twinvq::LspSplitEnd(*m, s));
    EXPECT_EQ(ends, c.ends) << c.kHz << "/" << c.kbps;
  }
}

// The peak comb's bins: within the spectrum or -1, the mode's shape length in every mode,
// which the fixed buffers of the decoder and encoder must hold.
TEST(TwinVqModel, PeakBinsFitTheirBuffersAndTheSpectrum) {
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    ASSERT_LE(m.peakShapeLength, twinvq::kMaxPeakShapeLength) << m.kHzCode << "/" << m.kbpsPerChannel;
    twinvq::StreamSetup setup;
    ASSERT_TRUE(setup.Init(m.kHzCode, m.kbpsPerChannel, 1));
    for (int32_t period = 0; period < (1 << m.peakPeriodBits); ++period) {
      int32_t bins[twinvq::kMaxPeakShapeLength];
      ASSERT_EQ(twinvq::PeakBins(setup, period, bins), m.peakShapeLength);
      for (int32_t i = 0; i < m.peakShapeLength; ++i) {
        EXPECT_TRUE(bins[i] == -1 || (bins[i] >= 0 && bins[i] < setup.frameSize()));
      }
      if (setup.PeakWidth(setup.PeakPeriod(period)) >= 2) EXPECT_EQ(bins[0], 0);  // half a peak at bin 0
    }
  }
}

}  // namespace
