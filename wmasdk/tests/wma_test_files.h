// What the WMA core's native tests share: PCM made up, files written and read through
// the core, files edited byte by byte, and ffmpeg run as the peer.
#pragma once

#include "ffmpeg_reader.h"
#include "ffmpeg_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace wmacore {
namespace testfiles {

struct Decoded {
  std::vector<int16_t> pcm;
  StreamInfo stream;
  uint32_t state = kMore;
  bool opened = false;
};

inline std::string TempPath(const char* name) { return std::string(::testing::TempDir()) + name; }

// 16-bit interleaved 997 Hz sine, or the same as unsigned 8-bit when bits is 8.
inline std::vector<uint8_t> Sine(uint32_t rate, uint32_t channels, uint32_t bits, uint32_t frames) {
  std::vector<uint8_t> out;
  for (uint32_t i = 0; i < frames; ++i) {
    const double v = 0.5 * std::sin(2 * M_PI * 997.0 * i / rate);
    for (uint32_t c = 0; c < channels; ++c) {
      if (bits == 8) {
        out.push_back(static_cast<uint8_t>(128 + std::lround(v * 127)));
      } else {
        const int16_t s = static_cast<int16_t>(std::lround(v * 32767));
        out.push_back(static_cast<uint8_t>(s & 0xFF));
        out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
      }
    }
  }
  return out;
}

struct Format {
  uint32_t bitRate, rate, channels;     // of the file
  uint32_t inRate, inChannels, inBits;  // of the PCM given
};

inline void Encode(const std::string& path, const Format& f, const std::vector<uint8_t>& pcm, size_t chunk) {
  int32_t result = -1;
  AsfWmaWriter* w = OpenWriter(path.c_str(), &result);
  ASSERT_NE(w, nullptr);
  uint32_t written = 0;
  ASSERT_EQ(SetWriterOutput(w, f.bitRate, f.rate, f.channels, &written), kOk);
  ASSERT_EQ(SetWriterInput(w, f.inRate, f.inChannels, f.inBits), kOk);
  for (size_t at = 0; at < pcm.size(); at += chunk)
    ASSERT_EQ(WritePcm(w, pcm.data() + at, static_cast<uint32_t>(std::min(chunk, pcm.size() - at))), kOk);
  if (!pcm.empty()) {
    EXPECT_EQ(SetWriterInput(w, f.inRate, f.inChannels, f.inBits), kWrongState);
  }
  ASSERT_EQ(FinishWriter(w), kOk);
  CloseWriter(w);
}

inline Decoded Decode(const std::string& path) {
  Decoded d;
  int32_t result = kFailed;
  AsfWmaReader* r = OpenReader(path.c_str(), &d.stream, &result);
  if (!r) return d;
  d.opened = true;
  std::vector<uint8_t> block(5000);  // not a multiple of a stereo frame on purpose
  while (d.state == kMore) {
    const uint32_t n = ReadPcm(r, block.data(), static_cast<uint32_t>(block.size()), &d.state);
    EXPECT_EQ(n % (2 * d.stream.channels), 0u);
    const auto* s = reinterpret_cast<const int16_t*>(block.data());
    d.pcm.insert(d.pcm.end(), s, s + n / 2);
  }
  CloseReader(r);
  return d;
}

inline std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline void WriteAll(const std::string& path, const std::vector<char>& b) {
  std::ofstream(path, std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));
}

// Text as the ASF header stores it: UTF-16LE.
inline std::vector<char> Utf16(const std::string& text) {
  std::vector<char> out;
  for (char c : text) {
    out.push_back(c);
    out.push_back(0);
  }
  return out;
}

inline bool Replace(std::vector<char>& bytes, const std::string& from, const std::string& to) {
  const std::vector<char> a = Utf16(from), b = Utf16(to);
  auto at = std::search(bytes.begin(), bytes.end(), a.begin(), a.end());
  if (at == bytes.end()) return false;
  std::copy(b.begin(), b.end(), at);
  return true;
}

inline bool Ffmpeg(const std::string& args) {
  return std::system(("ffmpeg -nostdin -hide_banner -loglevel error -y " + args).c_str()) == 0;
}

}  // namespace testfiles
}  // namespace wmacore
