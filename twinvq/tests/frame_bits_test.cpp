// Frames through the bitstream writer and reader, and the field checks.
#include "frame_bits.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "random_frames.h"

namespace {

using twinvq::FrameValues;
using twinvq::StreamSetup;

bool SameValues(const FrameValues& a, const FrameValues& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Every mode, channel count and window type: a random frame has exactly the frame's bits,
// and reads back as written, also across frames that do not start on a byte; the frames
// with bytes to spare after them and the last one, which ends the data, take the reader's
// two ways.
TEST(TwinVqFrameBits, FramesRoundTripInEveryMode) {
  std::mt19937 rng(11);
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    for (int32_t channels = 1; channels <= 2; ++channels) {
      StreamSetup setup;
      ASSERT_TRUE(setup.Init(m.kHzCode, m.kbpsPerChannel, channels));
      std::vector<FrameValues> frames;
      twinvq::BitWriter writer;
      for (int32_t type = 0; type < twinvq::kWindowTypeCount; ++type) {
        frames.push_back(twinvq_test::RandomFrame(setup, type, rng));
        ASSERT_TRUE(twinvq::ValuesFitFields(setup, frames.back()));
        const int64_t before = writer.bitCount();
        twinvq::WriteFrame(setup, frames.back(), &writer);
        EXPECT_EQ(writer.bitCount() - before, setup.frameBits()) << "type " << type;
      }
      twinvq::BitReader reader(writer.bytes().data(), writer.bytes().size());
      for (const FrameValues& expected : frames) {
        FrameValues read;
        ASSERT_TRUE(twinvq::ReadFrame(setup, &reader, &read));
        EXPECT_TRUE(SameValues(read, expected)) << m.kHzCode << "/" << m.kbpsPerChannel;
      }
      FrameValues beyond;
      EXPECT_FALSE(twinvq::ReadFrame(setup, &reader, &beyond));  // only padding is left
    }
  }
}

TEST(TwinVqFrameBits, ReaderRefusesInvalidWindowTypes) {
  StreamSetup setup;
  ASSERT_TRUE(setup.Init(22, 20, 1));
  twinvq::BitWriter writer;
  writer.Put(9, 4);
  for (int32_t i = 0; i < setup.frameBits(); ++i) writer.Put(0, 1);
  twinvq::BitReader reader(writer.bytes().data(), writer.bytes().size());
  FrameValues v;
  EXPECT_FALSE(twinvq::ReadFrame(setup, &reader, &v));
}

TEST(TwinVqFrameBits, FieldCheckCatchesEachTooWideValue) {
  StreamSetup setup;
  ASSERT_TRUE(setup.Init(44, 48, 2));
  std::mt19937 rng(3);
  const FrameValues good = twinvq_test::RandomFrame(setup, 0, rng);
  ASSERT_TRUE(twinvq::ValuesFitFields(setup, good));
  FrameValues bad = good;
  bad.windowType = 9;
  EXPECT_FALSE(twinvq::ValuesFitFields(setup, bad));
  bad = good;
  bad.main[setup.part(twinvq::kLongBlock).pairs - 1][1] = 1 << 7;
  EXPECT_FALSE(twinvq::ValuesFitFields(setup, bad));
  bad = good;
  bad.peakGain[1] = 1 << 7;
  EXPECT_FALSE(twinvq::ValuesFitFields(setup, bad));
  bad = good;
  bad.lspSecond[1][3] = 16;
  EXPECT_FALSE(twinvq::ValuesFitFields(setup, bad));
  bad = good;
  bad.bark[1][0][3] = -1;
  EXPECT_FALSE(twinvq::ValuesFitFields(setup, bad));
}

}  // namespace
