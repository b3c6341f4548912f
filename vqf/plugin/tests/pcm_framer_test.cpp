// The framing core: sample conversion, planar placement, frame boundaries across blocks,
// and the options word's bit rate.
#include <gtest/gtest.h>

#include <vector>

#include "bit_rates.h"
#include "pcm_framer.h"

using namespace vqf;

TEST(BitRates, OptionsWordSelectsAnEntryOrTheDefault) {
  EXPECT_EQ(BitRateFromOptions(0), 48u);
  EXPECT_EQ(BitRateFromOptions(9), 48u);
  EXPECT_EQ(BitRateFromOptions(0xFFFFFFFFu), 48u);
  const uint32_t expected[] = {8, 10, 16, 20, 24, 32, 40, 48};
  for (uint32_t options = 1; options <= 8; ++options) EXPECT_EQ(BitRateFromOptions(options), expected[options - 1]);
}

TEST(BitRates, OnlyTheFiveModeRatesAreVqfRates) {
  for (long hz : {8000L, 11025L, 16000L, 22050L, 44100L}) EXPECT_TRUE(IsVqfSampleRate(hz)) << hz;
  for (long hz : {0L, -8000L, 7999L, 8001L, 8999L, 11000L, 11127L, 12000L, 22000L, 22254L, 32000L, 44099L, 48000L})
    EXPECT_FALSE(IsVqfSampleRate(hz)) << hz;
}

namespace {

struct Collector {
  explicit Collector(uint32_t bits, uint32_t channels, uint32_t frameSize)
      : buffer(channels * frameSize, -1.0f), frame{bits, channels, frameSize, buffer.data(), 0} {}
  void Feed(const std::vector<uint8_t>& block) {
    GatherFrames(frame, block.data(), block.size(), [this] { frames.push_back(buffer); });
  }
  std::vector<float> buffer;
  PlanarFrame frame;
  std::vector<std::vector<float>> frames;
};

}  // namespace

TEST(GatherFrames, EightBitSamplesAreCentredAndScaled) {
  EXPECT_EQ(SampleFromUnsigned8(0), -32768.0f);
  EXPECT_EQ(SampleFromUnsigned8(128), 128.0f);
  EXPECT_EQ(SampleFromUnsigned8(255), 32767.0f);
  Collector c(8, 1, 3);
  c.Feed({0, 128, 255, 1});
  ASSERT_EQ(c.frames.size(), 1u);
  EXPECT_EQ(c.frames[0], (std::vector<float>{-32768.0f, 128.0f, 32767.0f}));
  EXPECT_EQ(c.frame.filled, 1u);
  EXPECT_EQ(c.buffer[0], -32511.0f);
}

TEST(GatherFrames, StereoIsSplitIntoPlanarChannelsAcrossBlocks) {
  Collector c(16, 2, 4);
  // Sample frames (L, R) = (k, -k - 1) for k = 0..9, in blocks of 3 and 7 sample frames.
  std::vector<uint8_t> pcm;
  for (int k = 0; k < 10; ++k)
    for (int16_t v : {int16_t(k == 9 ? 32767 : k), int16_t(k == 9 ? -32768 : -k - 1)}) {
      pcm.push_back(uint8_t(v));
      pcm.push_back(uint8_t(uint16_t(v) >> 8));
    }
  c.Feed(std::vector<uint8_t>(pcm.begin(), pcm.begin() + 12));
  EXPECT_TRUE(c.frames.empty());
  c.Feed(std::vector<uint8_t>(pcm.begin() + 12, pcm.end()));
  ASSERT_EQ(c.frames.size(), 2u);
  EXPECT_EQ(c.frames[0], (std::vector<float>{0, 1, 2, 3, -1, -2, -3, -4}));
  EXPECT_EQ(c.frames[1], (std::vector<float>{4, 5, 6, 7, -5, -6, -7, -8}));
  EXPECT_EQ(c.frame.filled, 2u);
  EXPECT_EQ(c.buffer[1], 32767.0f);
  EXPECT_EQ(c.buffer[5], -32768.0f);
}

TEST(GatherFrames, TrailingPieceOfASampleFrameIsNotTaken) {
  Collector c(16, 2, 4);
  c.Feed({1, 0, 2, 0, 3});  // one sample frame and a stray byte
  EXPECT_EQ(c.frame.filled, 1u);
  c.Feed({});
  EXPECT_EQ(c.frame.filled, 1u);
}

TEST(SilenceFrom, ClearsTheRestOfEveryChannel) {
  std::vector<float> buffer(8, 9.0f);
  PlanarFrame frame{16, 2, 4, buffer.data(), 0};
  SilenceFrom(frame, 3);
  EXPECT_EQ(buffer, (std::vector<float>{9, 9, 9, 0, 9, 9, 9, 0}));
  SilenceFrom(frame, 0);
  EXPECT_EQ(buffer, std::vector<float>(8, 0.0f));
}
