// The TwinVQ encoder on random sample frames: the first byte picks one of the 18 modes and
// the number of frames (one or two), the rest are 16-bit samples, repeated to fill each
// frame, so short inputs cover whole frames (some byte patterns stand for NaN, infinities
// and values far beyond full scale). Every frame's indices must fit their fields and
// decode to finite output in the codec core's decoder model. One encoder and decoder per
// mode are made once and reset for each input: the per-input cost is the frames alone.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
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

struct Codec {
  explicit Codec(int32_t choice) {
    if (!setup.Init(kModes[choice / 2][0], kModes[choice / 2][1], 1 + choice % 2)) std::abort();
    encoder = std::make_unique<tvqenc::FrameEncoder>(setup);
    model = std::make_unique<twinvq::DecoderModel>(setup);
  }
  twinvq::StreamSetup setup;
  std::unique_ptr<tvqenc::FrameEncoder> encoder;
  std::unique_ptr<twinvq::DecoderModel> model;
};

Codec& CodecFor(int32_t choice) {
  static std::unique_ptr<Codec> codecs[18];
  if (!codecs[choice]) codecs[choice] = std::make_unique<Codec>(choice);
  return *codecs[choice];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  Codec& c = CodecFor(data[0] % 18);
  const int32_t frames = 1 + (data[0] / 18) % 2;
  c.encoder->Reset();
  c.model->Reset();
  const int32_t n = c.setup.frameSize(), channels = c.setup.channels();
  std::vector<float> samples(n * channels), out(n * channels);
  const size_t codes = (size - 1) / 2;
  size_t next = 0;
  for (int32_t frame = 0; frame < frames; ++frame) {
    for (float& s : samples) {
      uint16_t code;
      std::memcpy(&code, data + 1 + 2 * (next++ % codes), 2);
      s = SampleFrom(code);
    }
    twinvq::FrameValues values;
    c.encoder->Encode(samples.data(), &values);
    if (!twinvq::ValuesFitFields(c.setup, values)) std::abort();
    if (!c.model->DecodeFrame(values, out.data())) std::abort();
    for (float y : out) {
      if (!std::isfinite(y)) std::abort();
    }
  }
  return 0;
}
