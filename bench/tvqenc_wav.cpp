// Our TwinVQ encoder on a WAV file, natively: the file encoded in one of the format's modes,
// decoded by the codec core's decoder model (which agrees with ffmpeg's decoder within a
// least significant bit) and written back lined up with the input, for quick listening and
// grading while tuning the encoder (bench/peaq_tune.sh vqf grades the PEAQ clips with it).
//   tvqenc_wav IN.wav KHZ KBPS OUT.wav   (KBPS per channel; 16-bit PCM at the mode's rate)
// Prints the speed and how often each block kind was chosen.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench_wav.h"
#include "decoder_model.h"
#include "frame_encoder.h"

int main(int argc, char** argv) {
  bench::Wav in;
  twinvq::StreamSetup setup;
  if (argc != 5 || !bench::ReadWav(argv[1], &in) || !setup.Init(std::atoi(argv[2]), std::atoi(argv[3]), in.channels)) {
    std::fprintf(stderr, "usage: tvqenc_wav IN.wav KHZ KBPS OUT.wav (16-bit PCM at the mode's rate, 1 or 2 channels)\n");
    return 2;
  }
  if (in.rate != static_cast<int32_t>(setup.mode().realHz)) {
    std::fprintf(stderr, "the mode codes %d Hz, the file holds %d Hz\n", static_cast<int>(setup.mode().realHz), in.rate);
    return 2;
  }
  const int32_t n = setup.frameSize(), ch = in.channels;
  const long length = static_cast<long>(in.pcm[0].size());
  tvqenc::FrameEncoder encoder(setup);
  twinvq::DecoderModel decoder(setup);
  twinvq::FrameValues values;
  std::vector<float> planar(n * ch), decoded(n * ch);
  bench::Wav out;
  out.rate = in.rate;
  out.channels = ch;
  long kinds[9] = {};
  double busy = 0.0;
  // The decoder's output lags the input by two frames: two more frames of silence flush it.
  for (long at = 0, frame = 0; at < length + 2L * n; at += n, ++frame) {
    for (int32_t c = 0; c < ch; ++c)
      for (int32_t i = 0; i < n; ++i) planar[c * n + i] = at + i < length ? in.pcm[c][at + i] * 32768.0f : 0.0f;
    const auto start = std::chrono::steady_clock::now();
    encoder.Encode(planar.data(), &values);
    busy += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++kinds[values.windowType % 9];
    decoder.DecodeFrame(values, decoded.data());
    if (frame < 2) continue;
    for (int32_t i = 0; i < n; ++i)
      for (int32_t c = 0; c < ch; ++c) out.pcm[c].push_back(decoded[i * ch + c]);
  }
  for (int32_t c = 0; c < ch; ++c) out.pcm[c].resize(length);
  bench::WriteWav(argv[4], out);
  std::printf("%.1fx real time; window types:", length / double(in.rate) / busy);
  for (int32_t k = 0; k < 9; ++k) std::printf(" %ld", kinds[k]);
  std::printf("\n");
  return 0;
}
