// Whole VQF files written through the core and the stand-in, decoded by ffmpeg, a decoder
// we did not write: N frames must give (N - 2) x frame size samples per channel.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bit_file.h"
#include "header_builder.h"
#include "standin_test_support.h"
#include "test_files.h"

namespace {

bool HaveFfmpeg() { return std::system("ffmpeg -version > /dev/null 2>&1") == 0; }

// Frames of a tone whose loudness steps up and down so all three block types occur.
std::vector<float> TestFrame(int32_t frameSize, int32_t channels, int32_t number) {
  const float levels[] = {0, 12000, 12000, 3000, 3000, 30000, 100, 100};
  const float before = levels[number % 8];
  const float after = levels[(number + 1) % 8];
  std::vector<float> samples(static_cast<size_t>(frameSize) * channels);
  for (int32_t ch = 0; ch < channels; ++ch) {
    for (int32_t i = 0; i < frameSize; ++i) {
      const float amplitude = i < frameSize / 2 ? before : after;
      samples[ch * frameSize + i] = amplitude * std::sin(0.03f * (number * frameSize + i) + ch);
    }
  }
  return samples;
}

struct Written {
  int32_t frames = 0;
  int32_t frameSize = 0;
  bool blockTypeSeen[3] = {false, false, false};
};

// Writes the file the way the plug-in does: header, "DATA", the frames, two silent frames.
Written WriteVqf(const char* path, int32_t channels, int32_t kbps, int32_t kHz, int32_t audioFrames) {
  Written w;
  StandinStream stream(channels, kbps, kHz);
  EXPECT_EQ(stream.result, 0);
  if (stream.result != 0) return w;
  encoderEntryPoints.TvqGetVersionID(0, stream.header.versionId);
  BitFile* file = OpenBitFile(path, "wb");
  w.frameSize = encoderEntryPoints.TvqEncGetFrameSize();
  std::unique_ptr<CChunk> root = BuildHeader(stream.header, "header_info");
  WriteHeader(file, *root);
  for (int32_t n = 0; n < audioFrames + 2; ++n) {
    std::vector<float> samples = TestFrame(w.frameSize, channels, n);
    if (n >= audioFrames) samples.assign(samples.size(), 0.0f);
    encoderEntryPoints.TvqEncodeFrame(samples.data(), &stream.index);
    w.blockTypeSeen[stream.index.blockType] = true;
    WriteFrameRecord(&stream.index, &stream.layout, file);
    ++w.frames;
  }
  EXPECT_TRUE(CloseBitFile(file));
  return w;
}

}  // namespace

TEST(FfmpegDecode, EveryFrameOfSeveralModesDecodes) {
  if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  ScratchDirectory dir("tvqenc_ffmpeg");
  struct Mode {
    int32_t channels, kbps, kHz, sampleRate;
  } modes[] = {{2, 48, 44, 44100}, {1, 8, 11, 11025}, {1, 20, 22, 22050},
               {2, 32, 22, 22050}, {2, 8, 8, 8000},    {1, 16, 16, 16000}};
  for (const Mode& m : modes) {
    const Written w = WriteVqf("test.vqf", m.channels, m.kbps, m.kHz, 22);
    EXPECT_TRUE(w.blockTypeSeen[0] && w.blockTypeSeen[1] && w.blockTypeSeen[2]);
    std::remove("test.raw");
    // ffmpeg reports an I/O error at the end of a complete file; only the output counts.
    std::system("ffmpeg -nostdin -v quiet -i test.vqf -f s16le -y test.raw");
    std::system("ffprobe -v quiet -show_entries stream=sample_rate,channels -of csv=p=0 "
                "test.vqf > probe.txt");
    const size_t expectedBytes = static_cast<size_t>(w.frames - 2) * w.frameSize * m.channels * 2;
    EXPECT_EQ(ReadFileBytes("test.raw").size(), expectedBytes) << m.kHz << "/" << m.kbps;
    const std::vector<uint8_t> probe = ReadFileBytes("probe.txt");
    EXPECT_EQ(std::string(probe.begin(), probe.end()),
              std::to_string(m.sampleRate) + "," + std::to_string(m.channels) + "\n");
  }
}
