// The layouts the stand-in reports: exactly the format's 18 modes, and records of exactly
// the frame length F of each mode, for every block type.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "test_files.h"
#include "bit_file.h"
#include "standin_test_support.h"
#include "twinvq_layout.h"

namespace {

struct ModeCase {
  int32_t kHz, kbps, channels, frameSize, frameBits;
};

// Frame sizes and F as an independent decoder of the format expects them.
const ModeCase kModes[] = {
    {8, 8, 1, 512, 512},     {8, 8, 2, 512, 1024},    {11, 8, 1, 512, 371},
    {11, 8, 2, 512, 743},    {11, 10, 1, 512, 464},   {11, 10, 2, 512, 928},
    {16, 16, 1, 1024, 1024}, {16, 16, 2, 1024, 2048}, {22, 20, 1, 1024, 928},
    {22, 20, 2, 1024, 1857}, {22, 24, 1, 1024, 1114}, {22, 24, 2, 1024, 2229},
    {22, 32, 1, 512, 743},   {22, 32, 2, 512, 1486},  {44, 40, 1, 2048, 1857},
    {44, 40, 2, 2048, 3715}, {44, 48, 1, 2048, 2229}, {44, 48, 2, 2048, 4458},
};

// Bits of one record of the given block type written from a zeroed frame.
int32_t RecordBits(StandinStream& stream, int32_t blockType) {
  FrameIndex& index = stream.index;
  index.blockType = blockType;
  index.typeCode = 0;
  BitFile* file = OpenBitFile("record", "wb");
  WriteFrameRecord(&index, &stream.layout, file);
  const int32_t bits = file->bitCount;
  CloseBitFile(file);
  return bits;
}

// Pair widths as (count of (7,7), count of (7,6)) etc.: counts of each distinct pair.
std::vector<std::pair<int, int>> PairRuns(const int32_t* w0, const int32_t* w1, int32_t n) {
  std::vector<std::pair<int, int>> runs;  // (w0 * 10 + w1, count)
  for (int32_t i = 0; i < n; ++i) {
    const int key = w0[i] * 10 + w1[i];
    if (runs.empty() || runs.back().first != key) runs.push_back({key, 0});
    ++runs.back().second;
  }
  return runs;
}

}  // namespace

TEST(StandinLayout, EveryModeAndBlockTypeFillsExactlyOneFrame) {
  ScratchDirectory dir("tvqenc_layout");
  for (const ModeCase& m : kModes) {
    StandinStream stream(m.channels, m.kbps, m.kHz);
    ASSERT_EQ(stream.result, 0) << m.kHz << "/" << m.kbps << " x" << m.channels;
    EXPECT_EQ(encoderEntryPoints.TvqEncGetFrameSize(), m.frameSize);
    EXPECT_EQ(stream.layout.config.channels, m.channels);
    for (int32_t type = 0; type < 3; ++type) {
      const BlockTypeConfig& t = stream.layout.config.blockTypes[type];
      EXPECT_EQ(t.hasPb, 0);
      EXPECT_EQ(t.hasPitch != 0, type == 2);
      EXPECT_EQ(RecordBits(stream, type), m.frameBits)
          << m.kHz << "/" << m.kbps << " x" << m.channels << " block type " << type;
    }
  }
}

TEST(StandinLayout, PairWidthsOfSampleModes) {
  using Runs = std::vector<std::pair<int, int>>;
  struct Expected {
    int32_t kHz, kbps, channels;
    Runs shape[3], pitch;
  } cases[] = {
      {8, 8, 1, {{{77, 20}, {76, 9}}, {{77, 24}, {76, 9}}, {{77, 21}, {76, 10}}}, {{77, 2}}},
      {11, 8, 1, {{{77, 18}}, {{77, 22}}, {{77, 9}, {76, 11}}}, {{66, 3}}},
      {22, 32, 2, {{{77, 89}, {76, 6}}, {{77, 87}, {76, 10}}, {{77, 82}, {76, 6}}}, {{77, 8}}},
      {44, 48, 2, {{{77, 277}, {76, 10}}, {{77, 296}, {76, 8}}, {{77, 294}, {76, 2}}}, {{77, 12}}},
  };
  for (const Expected& e : cases) {
    StandinStream stream(e.channels, e.kbps, e.kHz);
    ASSERT_EQ(stream.result, 0);
    for (int type = 0; type < 3; ++type) {
      EXPECT_EQ(PairRuns(stream.layout.widths.widths0[type], stream.layout.widths.widths1[type],
                         stream.layout.config.blockTypes[type].shapeCount),
                e.shape[type])
          << e.kHz << "/" << e.kbps << " x" << e.channels << " block type " << type;
    }
    EXPECT_EQ(PairRuns(stream.layout.widths.widths0[3], stream.layout.widths.widths1[3],
                       stream.layout.config.pitchCodebookCount),
              e.pitch);
  }
}

TEST(StandinLayout, EveryOtherCombinationIsRefused) {
  const ModeCase refused[] = {
      {44, 32, 1, 0, 0}, {22, 16, 1, 0, 0}, {16, 8, 1, 0, 0}, {11, 16, 2, 0, 0},
      {48, 48, 2, 0, 0}, {8, 10, 1, 0, 0},  {44, 20, 2, 0, 0}, {0, 0, 1, 0, 0},
  };
  for (const ModeCase& m : refused) {
    StandinStream stream(m.channels, m.kbps, m.kHz);
    EXPECT_NE(stream.result, 0) << m.kHz << "/" << m.kbps << " x" << m.channels;
  }
  // Over a wide grid exactly the 18 combinations are accepted.
  int accepted = 0;
  for (int32_t channelMode = -1; channelMode <= 2; ++channelMode) {
    for (int32_t kHz = 0; kHz <= 100; ++kHz) {
      for (int32_t kbps = 0; kbps <= 200; ++kbps) {
        accepted += FindTwinVqMode(channelMode, kbps, kHz) != nullptr;
      }
    }
  }
  EXPECT_EQ(accepted, 18);
  // Channel modes other than mono and stereo, and a total rate that is not per channel.
  for (int32_t channelMode : {-1, 2}) EXPECT_EQ(FindTwinVqMode(channelMode, 96, 44), nullptr);
  EXPECT_EQ(FindTwinVqMode(1, 48, 44), nullptr);  // 24 kbps per channel at 44 kHz
  EXPECT_NE(FindTwinVqMode(1, 96, 44), nullptr);
}

TEST(StandinLayout, LongBlockUpdateRestatesTheLayout) {
  StandinStream stream(2, 48, 44);
  ASSERT_EQ(stream.result, 0);
  int32_t shapeCount = -1;
  std::vector<int32_t> w0(kTwinVqMaxPairs, -1), w1(kTwinVqMaxPairs, -1);
  EXPECT_EQ(TvqEncUpdateVectorInfo(0, &shapeCount, w0.data(), w1.data()), 0);
  const int32_t pairs = stream.layout.config.blockTypes[2].shapeCount;
  EXPECT_EQ(shapeCount, pairs);
  for (int32_t i = 0; i < pairs; ++i) {
    EXPECT_EQ(w0[i], stream.layout.widths.widths0[2][i]);
    EXPECT_EQ(w1[i], stream.layout.widths.widths1[2][i]);
  }
  EXPECT_EQ(w0[pairs], -1);
}
