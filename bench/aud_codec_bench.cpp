// Native speed of the AUD chunk codec: a generated mono signal encoded into 1024-sample
// chunks in memory and decoded back, each way timed on its own. Prints figures only.
// Speeds come from the process's CPU time, which a busy shared machine distorts less than
// the wall clock; both are printed.
//   aud_codec_bench [SECONDS]   (default 3600, at 22050 Hz)
#include "aud_codec.h"

#include <chrono>
#include <cmath>
#include <ctime>
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

// Wall-clock and CPU seconds since construction.
struct Timer {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  double cpu = CpuSeconds();
  static double CpuSeconds() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
  }
  double Wall() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(); }
  double Cpu() const { return CpuSeconds() - cpu; }
};

void PrintWay(const char* way, size_t count, double cpu, double wall) {
  std::printf("native-%s-seconds: %.4f (wall %.4f)\nnative-%s-msamples-per-second: %.1f\n", way, cpu, wall, way,
              double(count) / cpu / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 3600.0;
  const size_t count = size_t(seconds * 22050);
  const std::vector<int16_t> input = MakeSignal(count);
  std::vector<uint8_t> file((count / AUD_CHUNK_MAX_SAMPLES + 1) * (AUD_CHUNK_HEADER_BYTES + AUD_CHUNK_MAX_CODE_BYTES));

  Timer encodeTimer;
  AudCodecState encoder = {0, 0};
  size_t fileBytes = 0;
  for (size_t at = 0; at < count; at += AUD_CHUNK_MAX_SAMPLES) {
    const uint32_t n = uint32_t(count - at < AUD_CHUNK_MAX_SAMPLES ? count - at : AUD_CHUNK_MAX_SAMPLES);
    fileBytes += AudEncodeChunk(&encoder, &input[at], n, &file[fileBytes]);
  }
  const double encodeCpu = encodeTimer.Cpu(), encodeWall = encodeTimer.Wall();

  Timer decodeTimer;
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
  const double decodeCpu = decodeTimer.Cpu(), decodeWall = decodeTimer.Wall();

  if (decoded != count || encoder.predictor != decoder.predictor || encoder.stepIndex != decoder.stepIndex) {
    std::fprintf(stderr, "aud_codec_bench: decoded %zu of %zu samples, states differ\n", decoded, count);
    return 1;
  }
  std::printf("native-samples: %zu (%.0f s at 22050 Hz, %zu bytes of chunks, checksum %lld)\n", count, seconds,
              fileBytes, static_cast<long long>(checksum));
  PrintWay("encode", count, encodeCpu, encodeWall);
  PrintWay("decode", count, decodeCpu, decodeWall);
  return 0;
}
