// Our WMA encoder on a WAV file, natively: the file encoded at a bit rate, decoded by
// FFmpeg's wmav2 decoder and written back lined up with the input, for quick listening and
// grading while tuning the encoder (bench/wmaenc_tune.sh grades the PEAQ clips with it).
//   wmaenc_wav IN.wav KBPS OUT.wav   (16-bit PCM, mono or stereo, canonical 44-byte header)
// Prints the bit rate held, the speed and the encoder's statistics.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "encoder.h"
#include "tools/wmav2_decode.h"

namespace {

struct Wav {
  int32_t rate = 0, channels = 0;
  std::vector<float> pcm[2];  // planes, full scale 1
};

bool ReadWav(const char* path, Wav* w) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return false;
  uint16_t channels, bits;
  std::memcpy(&channels, &bytes[22], 2);
  std::memcpy(&w->rate, &bytes[24], 4);
  std::memcpy(&bits, &bytes[34], 2);
  if (bits != 16 || channels < 1 || channels > 2) return false;
  w->channels = channels;
  const size_t frames = (bytes.size() - 44) / (2 * channels);
  for (int32_t c = 0; c < channels; ++c) w->pcm[c].resize(frames);
  for (size_t i = 0; i < frames; ++i) {
    for (int32_t c = 0; c < channels; ++c) {
      int16_t v;
      std::memcpy(&v, &bytes[44 + 2 * (i * channels + c)], 2);
      w->pcm[c][i] = v / 32768.0f;
    }
  }
  return true;
}

void WriteWav(const char* path, const Wav& w) {
  FILE* f = std::fopen(path, "wb");
  if (!f) return;
  const uint32_t frames = static_cast<uint32_t>(w.pcm[0].size()), data = frames * 2 * w.channels;
  auto u32 = [&](uint32_t v) { std::fwrite(&v, 4, 1, f); };
  auto u16 = [&](uint16_t v) { std::fwrite(&v, 2, 1, f); };
  std::fwrite("RIFF", 1, 4, f), u32(36 + data), std::fwrite("WAVEfmt ", 1, 8, f), u32(16), u16(1);
  u16(static_cast<uint16_t>(w.channels)), u32(w.rate), u32(w.rate * 2 * w.channels);
  u16(static_cast<uint16_t>(2 * w.channels)), u16(16), std::fwrite("data", 1, 4, f), u32(data);
  for (uint32_t i = 0; i < frames; ++i) {
    for (int32_t c = 0; c < w.channels; ++c) {
      const float v = std::min(std::max(w.pcm[c][i], -1.0f), 32767.0f / 32768.0f);
      const int16_t q = static_cast<int16_t>(std::lround(v * 32768.0f));
      std::fwrite(&q, 2, 1, f);
    }
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  Wav in;
  if (argc != 4 || !ReadWav(argv[1], &in)) {
    std::fprintf(stderr, "usage: wmaenc_wav IN.wav KBPS OUT.wav (16-bit PCM, 1 or 2 channels)\n");
    return 2;
  }
  wmaenc::StreamSetup setup;
  if (!wmaenc::MakeStreamSetup(in.rate, in.channels, std::atoi(argv[2]) * 1000, &setup)) return 2;
  wmaenc::Encoder enc;
  if (enc.Open(setup, false) != wmaenc::Result::kOk) return 1;
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
  Wav out;
  out.rate = in.rate;
  out.channels = in.channels;
  for (int32_t c = 0; c < in.channels; ++c) {
    out.pcm[c] = std::move(decoded.samples[c]);
    out.pcm[c].resize(in.pcm[c].size(), 0.0f);
  }
  WriteWav(argv[3], out);
  const double duration = static_cast<double>(length) / in.rate;
  const wmaenc::EncoderStats& s = enc.stats();
  std::printf("%.1f kbps, %.0fx real time; frames %lld, short %lld, blocks %lld (mid/side %lld, exponents kept %lld), "
              "filler %lld bits\n",
              packets.size() * setup.packetBytes * 8.0 / duration / 1000, duration / seconds,
              static_cast<long long>(s.frames), static_cast<long long>(s.shortFrames), static_cast<long long>(s.blocks),
              static_cast<long long>(s.midSideBlocks), static_cast<long long>(s.reusedExponents),
              static_cast<long long>(s.fillerBits));
  return 0;
}
