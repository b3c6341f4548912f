// Native speed of the AUD chunk codec: a generated mono signal encoded into 1024-sample
// chunks in memory and decoded back, each way timed on its own. Prints figures only.
//   aud_codec_bench [SECONDS]   (default 3600, at 22050 Hz)
#include "aud_codec.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::vector<int16_t> MakeSignal(size_t count) {
  std::vector<int16_t> samples(count);
  uint32_t noise = 12345;
  for (size_t i = 0; i < count; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = double(i) / 22050.0;
    const double v = 9000 * std::sin(2 * M_PI * 440 * t) + 5000 * std::sin(2 * M_PI * 2900 * t) +
                     double(int32_t(noise >> 20) - 2048);
    samples[i] = int16_t(v);
  }
  return samples;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3600.0;
  const size_t count = size_t(seconds * 22050);
  const std::vector<int16_t> input = MakeSignal(count);
  std::vector<uint8_t> file((count / AUD_CHUNK_MAX_SAMPLES + 1) * (AUD_CHUNK_HEADER_BYTES + AUD_CHUNK_MAX_CODE_BYTES));

  auto start = std::chrono::steady_clock::now();
  AudCodecState encoder = {0, 0};
  size_t fileBytes = 0;
  for (size_t at = 0; at < count; at += AUD_CHUNK_MAX_SAMPLES) {
    const uint32_t n = uint32_t(count - at < AUD_CHUNK_MAX_SAMPLES ? count - at : AUD_CHUNK_MAX_SAMPLES);
    fileBytes += AudEncodeChunk(&encoder, &input[at], n, &file[fileBytes]);
  }
  const double encodeSeconds = SecondsSince(start);

  start = std::chrono::steady_clock::now();
  AudCodecState decoder = {0, 0};
  int16_t chunk[AUD_CHUNK_MAX_SAMPLES];
  size_t decoded = 0, offset = 0;
  int64_t checksum = 0;
  while (offset < fileBytes) {
    const uint32_t length = uint32_t(fileBytes - offset < 8 + 512 ? fileBytes - offset : 8 + 512);
    const uint32_t n = AudDecodeChunk(&decoder, &file[offset], length, chunk, AUD_CHUNK_MAX_SAMPLES);
    offset += AUD_CHUNK_HEADER_BYTES + AudCodeBytesFor(n);
    decoded += n;
    checksum += chunk[n ? n - 1 : 0];
  }
  const double decodeSeconds = SecondsSince(start);

  if (decoded != count || encoder.predictor != decoder.predictor || encoder.stepIndex != decoder.stepIndex) {
    std::fprintf(stderr, "aud_codec_bench: decoded %zu of %zu samples, states differ\n", decoded, count);
    return 1;
  }
  std::printf("native-samples: %zu (%.0f s at 22050 Hz, %zu bytes of chunks, checksum %lld)\n", count, seconds,
              fileBytes, static_cast<long long>(checksum));
  std::printf("native-encode-seconds: %.4f\nnative-encode-msamples-per-second: %.1f\n", encodeSeconds,
              double(count) / encodeSeconds / 1e6);
  std::printf("native-decode-seconds: %.4f\nnative-decode-msamples-per-second: %.1f\n", decodeSeconds,
              double(count) / decodeSeconds / 1e6);
  return 0;
}
