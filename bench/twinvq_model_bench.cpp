// Speed of the TwinVQ decoder model and frame bitstream, per mode: the time to decode one
// second of audio from random long frames and from random short frames, and to write and
// read back its frames. Prints figures; not a test. Build with the native-release preset.
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "decoder_model.h"
#include "frame_bits.h"

namespace {

twinvq::FrameValues RandomFrame(const twinvq::StreamSetup& setup, int32_t windowType,
                                std::mt19937& rng) {
  twinvq::FrameValues v;
  auto* raw = reinterpret_cast<int32_t*>(&v);
  for (size_t i = 0; i < sizeof v / sizeof(int32_t); ++i) raw[i] = static_cast<int32_t>(rng() & 1);
  v.windowType = windowType;
  (void)setup;
  return v;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main() {
  std::printf("%-9s %3s %18s %18s %18s\n", "mode", "ch", "long decode s/s", "short decode s/s",
              "bits write+read s/s");
  std::mt19937 rng(1);
  for (const twinvq::RateMode& m : twinvq::kRateModes) {
    for (int32_t channels = 1; channels <= 2; ++channels) {
      twinvq::StreamSetup setup;
      setup.Init(m.kHzCode, m.kbpsPerChannel, channels);
      const int32_t frames = 10 * m.realHz / m.frameSize;  // ten seconds
      const double audioSeconds = double(frames) * m.frameSize / m.realHz;
      std::vector<float> out(size_t(setup.frameSize()) * channels);
      double decode[2];
      for (int32_t pass = 0; pass < 2; ++pass) {
        const int32_t type = pass == 0 ? 0 : 2;
        std::vector<twinvq::FrameValues> values(frames);
        for (auto& v : values) v = RandomFrame(setup, type, rng);
        twinvq::DecoderModel model(setup);
        const auto start = std::chrono::steady_clock::now();
        for (const auto& v : values) model.DecodeFrame(v, out.data());
        decode[pass] = Seconds(std::chrono::steady_clock::now() - start) / audioSeconds;
      }
      const twinvq::FrameValues v = RandomFrame(setup, 0, rng);
      const auto start = std::chrono::steady_clock::now();
      twinvq::BitWriter writer;
      for (int32_t i = 0; i < frames; ++i) twinvq::WriteFrame(setup, v, &writer);
      twinvq::BitReader reader(writer.bytes().data(), writer.bytes().size());
      twinvq::FrameValues read;
      for (int32_t i = 0; i < frames; ++i) twinvq::ReadFrame(setup, &reader, &read);
      const double bits = Seconds(std::chrono::steady_clock::now() - start) / audioSeconds;
      std::printf("%2d/%-6d %3d %18.5f %18.5f %18.6f\n", m.kHzCode, m.kbpsPerChannel, channels,
                  decode[0], decode[1], bits);
    }
  }
  return 0;
}
