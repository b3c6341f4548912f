// 16-bit PCM WAV files (canonical 44-byte header, mono or stereo) as float planes at full
// scale 1, for the bench tools that run an encoder on a file natively.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace bench {

struct Wav {
  int32_t rate = 0, channels = 0;
  std::vector<float> pcm[2];  // planes, full scale 1
};

inline bool ReadWav(const char* path, Wav* w) {
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

// Rounds to 16 bits, clipping at full scale.
inline void WriteWav(const char* path, const Wav& w) {
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

}  // namespace bench
