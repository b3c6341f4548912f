// Native speed of VQF import: the VQF reader (header, frame records, decoder model, 16-bit
// conversion) decoding a file to memory, timed in the process's processor time.
//   vqf_import_bench FILE.vqf [REPEATS]       prints audio seconds, best pass, x real time
//                                              and a hash of the samples
//   vqf_import_bench --make SECONDS FILE.vqf  writes 44100 Hz stereo at 48 kbps per channel
//                                              (a tone left, noise right) through our encoder
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

#include "frame_bits.h"
#include "frame_encoder.h"
#include "vqf_reader.h"

namespace {

void PutBig32(std::FILE* f, uint32_t v) {
  const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  std::fwrite(b, 1, 4, f);
}

int Make(double seconds, const char* path) {
  twinvq::StreamSetup setup;
  if (!setup.Init(44, 48, 2)) return 1;
  const int32_t n = setup.frameSize();
  const int64_t frames = static_cast<int64_t>(seconds * 44100 / n) + 2;
  tvqenc::FrameEncoder encoder(setup);
  twinvq::BitWriter bits;
  twinvq::FrameValues values;
  std::vector<float> planar(size_t(n) * 2);
  std::mt19937 random(1);
  std::normal_distribution<float> noise(0.0f, 3000.0f);
  for (int64_t f = 0; f < frames; ++f) {
    for (int32_t i = 0; i < n; ++i) {
      planar[i] = static_cast<float>(9000.0 * std::sin(2 * M_PI * 440.0 * double(f * n + i) / 44100));
      planar[n + i] = noise(random);
    }
    encoder.Encode(planar.data(), &values);
    twinvq::WriteFrame(setup, values, &bits);
  }
  std::FILE* out = std::fopen(path, "wb");
  if (!out) return 1;
  std::fwrite("TWIN97012000", 1, 12, out);
  PutBig32(out, 20);
  std::fwrite("COMM", 1, 4, out);
  PutBig32(out, 12);
  PutBig32(out, 1);
  PutBig32(out, 96);
  PutBig32(out, 44);
  std::fwrite("DATA", 1, 4, out);
  std::fwrite(bits.bytes().data(), 1, bits.bytes().size(), out);
  return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--make") == 0) return Make(std::atof(argv[2]), argv[3]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE.vqf [REPEATS] | --make SECONDS FILE.vqf\n", argv[0]);
    return 2;
  }
  const int repeats = argc > 2 ? std::atoi(argv[2]) : 1;
  double best = 1e30, audio = 0;
  uint64_t hash = 0;
  for (int r = 0; r < repeats; ++r) {
    const std::clock_t start = std::clock();
    vqf::VqfDecoder decoder;
    if (decoder.Open(std::fopen(argv[1], "rb")) != vqf::HeaderStatus::kOk) {
      std::fprintf(stderr, "%s: not a VQF file this reader takes\n", argv[1]);
      return 1;
    }
    const size_t channels = size_t(decoder.header().channels);
    std::vector<int16_t> block(size_t(16384) * channels);
    uint64_t frames = 0;
    hash = 14695981039346656037ull;  // FNV-1a of the samples, to tell changed output
    while (size_t got = decoder.Read(block.data(), 16384)) {
      frames += got;
      for (size_t i = 0; i < got * channels; ++i) hash = (hash ^ uint16_t(block[i])) * 1099511628211ull;
    }
    best = std::min(best, double(std::clock() - start) / CLOCKS_PER_SEC);
    audio = double(frames) / decoder.header().sampleRate;
  }
  std::printf("audio %.1f s, decode %.3f cpu s, %.0fx real time, samples' hash %016llx\n", audio,
              best, audio / best, static_cast<unsigned long long>(hash));
  return 0;
}
