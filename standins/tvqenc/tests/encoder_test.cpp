// The stand-in's frames: block types that follow loudness, values that always fit their
// fields, determinism, and streams of different modes side by side.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "bit_file.h"
#include "standin_test_support.h"
#include "test_files.h"

namespace {

// A frame of a sine per channel whose amplitude jumps from before to after at the middle.
std::vector<float> SineFrame(int32_t frameSize, int32_t channels, float before, float after) {
  std::vector<float> samples(static_cast<size_t>(frameSize) * channels);
  for (int32_t ch = 0; ch < channels; ++ch) {
    for (int32_t i = 0; i < frameSize; ++i) {
      const float amplitude = i < frameSize / 2 ? before : after;
      samples[ch * frameSize + i] = amplitude * std::sin(0.05f * i + ch);
    }
  }
  return samples;
}

int32_t EncodeBlockType(StandinStream& stream, const std::vector<float>& samples) {
  EXPECT_EQ(encoderEntryPoints.TvqEncodeFrame(samples.data(), &stream.index), 0);
  return stream.index.blockType;
}

// Writes the frame's record and returns what the writer printed: any text means a value
// did not fit its field.
std::string WriteAndCollectDiagnostics(StandinStream& stream) {
  BitFile* file = OpenBitFile("frames", "wb");
  testing::internal::CaptureStdout();
  WriteFrameRecord(&stream.index, &stream.layout, file);
  CloseBitFile(file);
  return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(StandinEncoder, BlockTypesFollowLoudnessChanges) {
  StandinStream stream(2, 48, 44);
  ASSERT_EQ(stream.result, 0);
  const int32_t n = 2048;
  EXPECT_EQ(EncodeBlockType(stream, SineFrame(n, 2, 0, 0)), 2);          // silence: long
  EXPECT_EQ(EncodeBlockType(stream, SineFrame(n, 2, 0, 20000)), 0);      // onset: short
  EXPECT_EQ(stream.index.typeCode, 2);
  EXPECT_EQ(EncodeBlockType(stream, SineFrame(n, 2, 20000, 20000)), 2);  // steady: long
  EXPECT_EQ(stream.index.typeCode, 0);
  EXPECT_EQ(EncodeBlockType(stream, SineFrame(n, 2, 20000, 6000)), 1);   // moderate: medium
  EXPECT_EQ(stream.index.typeCode, 8);
  EXPECT_EQ(EncodeBlockType(stream, SineFrame(n, 2, 6000, 200)), 0);     // sudden drop: short
}

TEST(StandinEncoder, EveryValueFitsItsFieldInEveryBlockType) {
  ScratchDirectory dir("tvqenc_ranges");
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (auto mode : {std::pair<int, int>{8, 8}, {22, 32}, {44, 48}}) {
    for (int32_t channels : {1, 2}) {
      StandinStream stream(channels, mode.second, mode.first);
      ASSERT_EQ(stream.result, 0);
      const int32_t n = encoderEntryPoints.TvqEncGetFrameSize();
      std::vector<std::vector<float>> frames = {
          SineFrame(n, channels, 0, 32767), SineFrame(n, channels, 32767, 32767),
          SineFrame(n, channels, 32767, 9000), SineFrame(n, channels, -1e30f, 1e30f),
          std::vector<float>(n * channels, inf), std::vector<float>(n * channels, nan),
          std::vector<float>(n * channels, -32768.0f)};
      bool seen[3] = {false, false, false};
      for (const std::vector<float>& frame : frames) {
        seen[EncodeBlockType(stream, frame)] = true;
        EXPECT_EQ(WriteAndCollectDiagnostics(stream), "") << mode.first << "/" << mode.second;
      }
      EXPECT_TRUE(seen[0] && seen[1] && seen[2]);
    }
  }
}

TEST(StandinEncoder, SameInputGivesSameIndicesAndStreamsKeepTheirOwnModes) {
  StandinStream first(1, 20, 22);
  StandinStream second(1, 20, 22);
  ASSERT_EQ(first.result, 0);
  ASSERT_EQ(second.result, 0);
  const std::vector<float> frame = SineFrame(1024, 1, 3000, 12000);
  EncodeBlockType(first, frame);
  EncodeBlockType(second, frame);
  EXPECT_NE(first.index.shape, second.index.shape);  // each stream has its own arrays
  const int32_t pairs = first.layout.config.blockTypes[first.index.blockType].shapeCount;
  EXPECT_EQ(std::vector<int32_t>(first.index.shape, first.index.shape + 2 * pairs),
            std::vector<int32_t>(second.index.shape, second.index.shape + 2 * pairs));
  EXPECT_EQ(first.index.power[0], second.index.power[0]);
  EXPECT_EQ(first.index.lsp[0][1], second.index.lsp[0][1]);

  // A stereo stream opened later does not change what the mono one encodes.
  StandinStream stereo(2, 48, 44);
  ASSERT_EQ(stereo.result, 0);
  EncodeBlockType(first, SineFrame(1024, 1, 12000, 12000));
  EXPECT_EQ(first.index.pitchGain[1], 0);
}

TEST(StandinEncoder, VersionIdAndTermination) {
  char version[20];
  std::memset(version, 'x', sizeof version);
  EXPECT_EQ(TvqGetVersionID(0, version), 0);
  EXPECT_STREQ(version, "TWIN97012000");
  FrameIndex index{};
  EXPECT_EQ(TvqEncTerminate(&index), 0);  // nothing was initialised: nothing to free
  EXPECT_NE(TvqEncodeFrame(std::vector<float>(2048).data(), &index), 0);
}
