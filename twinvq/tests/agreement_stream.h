// The agreement streams: for one mode, two frames the decoder drops, a walk through every
// (block kind, window type) transition allowed, then a random allowed walk, of random
// frames (every other long frame's first channel with tied peak positions), their gains
// lowered until the output stays near full scale. Returned as frame bytes beside the
// model's output of the frames a decoder keeps. Shared by the native test against ffmpeg
// and the Windows program whose output is compared with ffmpeg's on the same machine.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "decoder_model.h"
#include "frame_bits.h"
#include "random_frames.h"

namespace twinvq_test {

constexpr float kAgreementLevelLimit = 1.0f;  // peak of a test frame, in full scale

// Window types that may follow a frame of each block kind: the first overlap may not be
// longer than the previous frame's last block.
inline bool MayFollow(twinvq::BlockKind previous, int32_t windowType) {
  static const int32_t kFirstOverlapClass[9] = {0, 0, 2, 2, 2, 1, 0, 1, 1};  // 0 long .. 2 short
  const int32_t limit = previous == twinvq::kLongBlock ? 0 : previous == twinvq::kMediumBlock ? 1 : 2;
  return kFirstOverlapClass[windowType] >= limit;
}

inline std::vector<int32_t> WindowTypeSequence(std::mt19937& rng) {
  std::vector<int32_t> types = {0, 0, 0, 1, 6, 3, 5, 4, 4, 7, 8, 5, 7, 3, 8, 2, 2, 3, 2, 4, 2, 3, 0, 0};
  for (int32_t i = 0; i < 6; ++i) {
    int32_t next;
    do {
      next = static_cast<int32_t>(rng() % 9);
    } while (!MayFollow(twinvq::BlockKindOfWindowType(types.back()), next));
    types.push_back(next);
  }
  return types;
}

// Peak period indices whose peaks land on exact half bins at a peak number that is a multiple
// of 5: there the format's tie tables decide the bin.
inline std::vector<int32_t> TiedPeriodIndices(const twinvq::StreamSetup& setup) {
  std::vector<int32_t> tied;
  const int32_t length = setup.mode().peakShapeLength;
  for (int32_t index = 0; index < (1 << setup.mode().peakPeriodBits); ++index) {
    const int32_t period = setup.PeakPeriod(index);
    const int32_t width = setup.PeakWidth(period);
    const int32_t lastPeak = (length + width / 2) / width;
    for (int32_t k = 5; k <= lastPeak; k += 5) {
      if ((period * k + 200) % 400 == 0) {
        tied.push_back(index);
        break;
      }
    }
  }
  return tied;
}

struct AgreementStream {
  std::vector<uint8_t> frames;  // the frame records, as after "DATA"
  std::vector<float> expected;  // the model's output of the kept frames, interleaved
};

inline AgreementStream MakeAgreementStream(const twinvq::StreamSetup& setup, uint32_t seed) {
  const int32_t channels = setup.channels();
  std::mt19937 rng(1000 * setup.mode().kHzCode + 10 * setup.mode().kbpsPerChannel + channels +
                   7919 * seed);
  const std::vector<int32_t> types = WindowTypeSequence(rng);
  twinvq::BitWriter bits;
  auto model = std::make_unique<twinvq::DecoderModel>(setup);
  std::vector<float> frameOut(size_t(setup.frameSize()) * channels);
  const std::vector<int32_t> tied = TiedPeriodIndices(setup);
  AgreementStream stream;
  for (size_t i = 0; i < types.size(); ++i) {
    twinvq::FrameValues values = RandomFrame(setup, types[i], rng);
    if (values.kind() == twinvq::kLongBlock && i % 2 == 0 && !tied.empty()) {
      values.peakPeriod[0] = tied[rng() % tied.size()];
    }
    // Random envelopes and gains reach hundreds of times full scale, where the comparison
    // would measure float rounding of the loud samples; lower the gains (main and peak)
    // until the frame and its tail in the next frame's output stay near full scale, as in
    // real streams.
    for (;;) {
      auto trial = std::make_unique<twinvq::DecoderModel>(*model);
      trial->DecodeFrame(values, frameOut.data());
      twinvq::DecoderModel tail(*trial);
      twinvq::FrameValues quiet = values;
      for (int32_t ch = 0; ch < 2; ++ch) {
        quiet.gain[ch] = 0;
        quiet.peakGain[ch] = 0;
        for (int32_t& g : quiet.subGain[ch]) g = 0;
      }
      std::vector<float> tailOut(frameOut.size());
      tail.DecodeFrame(quiet, tailOut.data());
      float peak = 0;
      for (float s : frameOut) peak = std::max(peak, std::fabs(s));
      for (float s : tailOut) peak = std::max(peak, std::fabs(s));
      const bool quietest = values.gain[0] == 0 && values.gain[1] == 0 &&
                            values.peakGain[0] == 0 && values.peakGain[1] == 0;
      if (peak <= kAgreementLevelLimit || quietest) {
        model = std::move(trial);
        break;
      }
      for (int32_t& g : values.gain) g = std::max(0, g - 16);
      for (int32_t& g : values.peakGain) g = std::max(0, g - 8);
    }
    twinvq::WriteFrame(setup, values, &bits);
    if (i >= 2) stream.expected.insert(stream.expected.end(), frameOut.begin(), frameOut.end());
  }
  stream.frames = bits.bytes();
  return stream;
}

}  // namespace twinvq_test
