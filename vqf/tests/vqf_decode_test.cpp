// The VQF reader against an independent decoder (ffmpeg): files of our encoder's frames in
// every mode decode to ffmpeg's samples (within 1 LSB, the same count), read in blocks of
// any size; damaged files (cut anywhere, bytes overwritten, frames with invalid window
// types) give what ffmpeg gives, no more, and the count announced at open is what the
// reads deliver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "frame_bits.h"
#include "frame_encoder.h"
#include "vqf_reader.h"
#include "vqf_test_file.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct ModeCase {
  int32_t kHz, kbps, channels;
};

std::vector<ModeCase> AllModes() {
  std::vector<ModeCase> cases;
  for (const twinvq::RateMode& m : twinvq::kRateModes)
    for (int32_t ch = 1; ch <= 2; ++ch) cases.push_back({m.kHzCode, m.kbpsPerChannel, ch});
  return cases;
}

std::string Name(const ModeCase& m) {
  return std::to_string(m.kHz) + "_" + std::to_string(m.kbps) + "_" + std::to_string(m.channels);
}

// `frames` frames of a chord with a click every few frames, through our encoder.
std::vector<uint8_t> EncodedVqf(const twinvq::StreamSetup& setup, int32_t frames) {
  const int32_t n = setup.frameSize(), channels = setup.channels();
  tvqenc::FrameEncoder encoder(setup);
  twinvq::BitWriter bits;
  std::vector<float> planar(size_t(n) * channels);
  const double hz = setup.mode().realHz;
  for (int32_t f = 0; f < frames; ++f) {
    for (int32_t c = 0; c < channels; ++c) {
      for (int32_t i = 0; i < n; ++i) {
        const int64_t t = int64_t(f) * n + i;
        const bool click = t % (5 * n) >= 3 * n && t % (5 * n) < 3 * n + 20;
        planar[size_t(c) * n + i] = static_cast<float>(
            9000.0 * std::sin(2 * kPi * 440.0 * t / hz + c) + 5000.0 * std::sin(2 * kPi * 1330.0 * t / hz) +
            (click ? 20000.0 : 0.0));
      }
    }
    twinvq::FrameValues values;
    encoder.Encode(planar.data(), &values);
    twinvq::WriteFrame(setup, values, &bits);
  }
  return twinvq_test::MakeVqf(setup, bits.bytes());
}

struct Decoded {
  vqf::HeaderStatus status;
  uint64_t announced = 0;          // sample frames, as counted at open
  std::vector<int16_t> samples;    // interleaved
};

// Our reader, in blocks of `block` sample frames.
Decoded DecodeWithReader(const std::vector<uint8_t>& vqf, size_t block) {
  Decoded d;
  std::FILE* file = std::tmpfile();
  if (!vqf.empty()) std::fwrite(vqf.data(), 1, vqf.size(), file);
  vqf::VqfDecoder decoder;
  d.status = decoder.Open(file);
  if (d.status != vqf::HeaderStatus::kOk) return d;
  d.announced = decoder.totalSampleFrames();
  const size_t channels = size_t(decoder.header().channels);
  std::vector<int16_t> buffer(block * channels);
  for (;;) {
    const size_t got = decoder.Read(buffer.data(), block);
    d.samples.insert(d.samples.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(got * channels));
    if (got < block) break;
  }
  EXPECT_EQ(decoder.Read(buffer.data(), block), 0u) << "a read after the end";
  return d;
}

// Largest difference between ours and ffmpeg's, or -1 when the counts differ.
int32_t LargestDifference(const std::vector<int16_t>& ours, const std::vector<int16_t>& theirs) {
  if (ours.size() != theirs.size()) return -1;
  int32_t largest = 0;
  for (size_t i = 0; i < ours.size(); ++i) largest = std::max(largest, std::abs(ours[i] - theirs[i]));
  return largest;
}

class VqfDecode : public ::testing::TestWithParam<ModeCase> {};

TEST_P(VqfDecode, EqualsFfmpegInBlocksOfAnySize) {
  const ModeCase m = GetParam();
  twinvq::StreamSetup setup;
  ASSERT_TRUE(setup.Init(m.kHz, m.kbps, m.channels));
  const std::vector<uint8_t> vqf = EncodedVqf(setup, 14);
  const std::vector<int16_t> expected = twinvq_test::DecodeWithFfmpeg<int16_t>(vqf, "vqf_decode_" + Name(m), "s16le");
  ASSERT_EQ(expected.size(), size_t(12) * setup.frameSize() * m.channels) << "is ffmpeg installed?";
  // Block 1 takes every frame through the reader's own buffer; larger blocks take whole
  // frames straight into the caller's array, which must give the very same samples.
  const std::vector<int16_t> buffered = DecodeWithReader(vqf, 1).samples;
  for (size_t block : {size_t(1), size_t(1000), size_t(1) << 20}) {
    const Decoded d = DecodeWithReader(vqf, block);
    EXPECT_EQ(d.samples, buffered) << "block " << block;
    ASSERT_EQ(d.status, vqf::HeaderStatus::kOk);
    EXPECT_EQ(d.announced * m.channels, d.samples.size()) << "block " << block;
    const int32_t largest = LargestDifference(d.samples, expected);
    EXPECT_GE(largest, 0) << "block " << block << ": counts differ";
    EXPECT_LE(largest, 1) << "block " << block;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryMode, VqfDecode, ::testing::ValuesIn(AllModes()),
                         [](const ::testing::TestParamInfo<ModeCase>& info) { return "m" + Name(info.param); });

// Damage of every kind in two modes: each file decodes as ffmpeg decodes it.
TEST(VqfDecodeDamaged, GivesWhatFfmpegGives) {
  for (const ModeCase m : {ModeCase{44, 48, 2}, ModeCase{8, 8, 1}}) {
    twinvq::StreamSetup setup;
    ASSERT_TRUE(setup.Init(m.kHz, m.kbps, m.channels));
    const std::vector<uint8_t> whole = EncodedVqf(setup, 12);
    const size_t header = 40, frameBytes = size_t(setup.frameBits()) / 8;
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
    // Cut inside the header and at points spread over the frames (whole and partial records).
    std::vector<size_t> cuts = {0, 10, 30, header, header + 1};
    for (size_t cut = header + frameBytes / 3; cut < whole.size(); cut += frameBytes * 7 / 5) cuts.push_back(cut);
    for (size_t cut : cuts)
      files.push_back({"cut " + std::to_string(cut), {whole.begin(), whole.begin() + std::ptrdiff_t(cut)}});
    // Bytes overwritten with random values, a few at a time.
    std::mt19937 rng(7);
    for (int32_t k = 0; k < 6; ++k) {
      std::vector<uint8_t> f = whole;
      for (int32_t j = 0; j < 3; ++j) f[header + rng() % (f.size() - header)] = static_cast<uint8_t>(rng());
      files.push_back({"overwritten " + std::to_string(k), f});
    }
    // Frames 0, 3 and 4 with window type 15: skipped, and the next ones are the first two dropped.
    std::vector<uint8_t> invalid = whole;
    for (int32_t frame : {0, 3, 4}) {
      const int64_t bit = int64_t(frame) * setup.frameBits();
      for (int32_t b = 0; b < 4; ++b) {
        const int64_t at = bit + b;
        invalid[header + size_t(at / 8)] |= static_cast<uint8_t>(0x80 >> (at % 8));
      }
    }
    files.push_back({"invalid window types", invalid});

    for (const auto& [label, bytes] : files) {
      SCOPED_TRACE(Name(m) + " " + label);
      const std::vector<int16_t> expected = twinvq_test::DecodeWithFfmpeg<int16_t>(bytes, "vqf_damaged", "s16le");
      const Decoded d = DecodeWithReader(bytes, 777);
      if (bytes.size() < header) {
        EXPECT_NE(d.status, vqf::HeaderStatus::kOk);
        continue;
      }
      ASSERT_EQ(d.status, vqf::HeaderStatus::kOk);
      EXPECT_EQ(d.announced * m.channels, d.samples.size());
      const int32_t largest = LargestDifference(d.samples, expected);
      EXPECT_GE(largest, 0) << d.samples.size() << " samples, ffmpeg " << expected.size();
      EXPECT_LE(largest, 1);
    }
  }
}

}  // namespace
