// Our WMA encoder on a WAV file, natively: the file encoded at a bit rate, decoded by
// FFmpeg's wmav2 decoder and written back lined up with the input, for quick listening and
// grading while tuning the encoder (bench/peaq_tune.sh wma grades the PEAQ clips with it).
//   wmaenc_wav IN.wav KBPS OUT.wav   (16-bit PCM, mono or stereo, canonical 44-byte header)
// WMAENC_NOISE_BANDS=off, on, or FLATNESS/DB[/PEAK] sets the noise bands (Encoder::SetNoiseBands)
// for tuning; unset keeps the encoder's own choice.
// Prints the bit rate held, the speed and the encoder's statistics.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "bench_wav.h"
#include "encoder.h"
#include "tools/wmav2_decode.h"

int main(int argc, char** argv) {
  bench::Wav in;
  if (argc != 4 || !bench::ReadWav(argv[1], &in)) {
    std::fprintf(stderr, "usage: wmaenc_wav IN.wav KBPS OUT.wav (16-bit PCM, 1 or 2 channels)\n");
    return 2;
  }
  wmaenc::StreamSetup setup;
  if (!wmaenc::MakeStreamSetup(in.rate, in.channels, std::atoi(argv[2]) * 1000, &setup)) return 2;
  wmaenc::Encoder enc;
  if (enc.Open(setup, false) != wmaenc::Result::kOk) return 1;
  if (const char* noise = std::getenv("WMAENC_NOISE_BANDS")) {
    wmaenc::NoiseBandTuning t = enc.noiseBands();
    t.enabled = std::strcmp(noise, "off") != 0;
    if (std::strchr(noise, '/')) std::sscanf(noise, "%lf/%lf/%lf", &t.minFlatness, &t.mostOverThresholdDb, &t.mostTemporalPeak);
    enc.SetNoiseBands(t);
  }
  const int32_t f = setup.frameLength;
  const long length = static_cast<long>(in.pcm[0].size());
  std::vector<float> planes[2] = {std::vector<float>(f), std::vector<float>(f)};
  std::vector<std::vector<uint8_t>> packets;
  std::vector<uint8_t> p;
  const auto start = std::chrono::steady_clock::now();
  for (long i = -f; i < length + f; i += f) {  // a frame of silence first
    for (int32_t c = 0; c < in.channels; ++c)
      for (int32_t j = 0; j < f; ++j) planes[c][j] = i + j >= 0 && i + j < length ? in.pcm[c][i + j] : 0.0f;
    const float* frame[2] = {planes[0].data(), planes[in.channels - 1].data()};
    enc.EncodeFrame(frame);
    while (enc.TakePacket(&p)) packets.push_back(p);
  }
  enc.Finish();
  while (enc.TakePacket(&p)) packets.push_back(p);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  // The decoder drops its first frame: the frame of silence put before the input, so
  // that its output lines up with the input.
  wmaenc::Wmav2Decoded decoded = wmaenc::DecodeWmav2(wmaenc::StreamOf(setup), packets);
  if (decoded.refusedPackets) std::fprintf(stderr, "%d packets refused by the decoder\n", decoded.refusedPackets);
  bench::Wav out;
  out.rate = in.rate;
  out.channels = in.channels;
  for (int32_t c = 0; c < in.channels; ++c) {
    out.pcm[c] = std::move(decoded.samples[c]);
    out.pcm[c].resize(in.pcm[c].size(), 0.0f);
  }
  bench::WriteWav(argv[3], out);
  const double duration = static_cast<double>(length) / in.rate;
  const wmaenc::EncoderStats& s = enc.stats();
  std::printf("%.1f kbps, %.0fx real time; frames %lld, short %lld, blocks %lld (mid/side %lld, exponents kept %lld), "
              "filler %lld bits, noise bands %lld\n",
              packets.size() * setup.packetBytes * 8.0 / duration / 1000, duration / seconds,
              static_cast<long long>(s.frames), static_cast<long long>(s.shortFrames), static_cast<long long>(s.blocks),
              static_cast<long long>(s.midSideBlocks), static_cast<long long>(s.reusedExponents),
              static_cast<long long>(s.fillerBits), static_cast<long long>(s.noiseBands));
  return 0;
}
