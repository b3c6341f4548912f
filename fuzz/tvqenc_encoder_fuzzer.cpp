// The TwinVQ encoder on random sample frames: the first byte picks one of the 18 modes,
// the rest are 16-bit samples (some byte patterns stand for NaN, infinities and values far
// beyond full scale). Every frame's indices must fit their fields and decode to finite
// output in the codec core's decoder model.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "decoder_model.h"
#include "frame_encoder.h"

namespace {

const int32_t kModes[9][2] = {{8, 8}, {11, 8}, {11, 10}, {16, 16}, {22, 20}, {22, 24}, {22, 32}, {44, 40}, {44, 48}};

float SampleFrom(uint16_t code) {
  switch (code) {
    case 0x7FF1: return std::numeric_limits<float>::quiet_NaN();
    case 0x7FF2: return std::numeric_limits<float>::infinity();
    case 0x7FF3: return -std::numeric_limits<float>::infinity();
    case 0x7FF4: return 3.0e38f;
    default: return static_cast<float>(static_cast<int16_t>(code));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int32_t choice = data[0] % 18;
  twinvq::StreamSetup setup;
  if (!setup.Init(kModes[choice / 2][0], kModes[choice / 2][1], 1 + choice % 2)) std::abort();
  const int32_t n = setup.frameSize(), channels = setup.channels();
  tvqenc::FrameEncoder encoder(setup);
  twinvq::DecoderModel model(setup);
  std::vector<float> samples(n * channels), out(n * channels);
  size_t at = 1;
  for (int32_t frame = 0; frame < 4 && at < size; ++frame) {
    for (float& s : samples) {
      uint16_t code = 0;
      if (at + 1 < size) std::memcpy(&code, data + at, 2);
      at += 2;
      s = SampleFrom(code);
    }
    twinvq::FrameValues values;
    encoder.Encode(samples.data(), &values);
    if (!twinvq::ValuesFitFields(setup, values)) std::abort();
    if (!model.DecodeFrame(values, out.data())) std::abort();
    for (float y : out) {
      if (!std::isfinite(y)) std::abort();
    }
  }
  return 0;
}
