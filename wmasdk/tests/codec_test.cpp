// The Linux half natively, with the sanitizers: our writer and reader round-trip exactly
// the samples given whatever the PCM's shape, and damaged files end early but safely.
#include "ffmpeg_reader.h"
#include "ffmpeg_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace wmaunix;

namespace {

struct Decoded {
  std::vector<int16_t> pcm;
  WmaBridgeStream stream{};
  uint32_t state = kBridgeMore;
  bool opened = false;
};

std::string TempPath(const char* name) { return std::string(::testing::TempDir()) + name; }

// 16-bit interleaved 997 Hz sine, or the same as unsigned 8-bit when bits is 8.
std::vector<uint8_t> Sine(uint32_t rate, uint32_t channels, uint32_t bits, uint32_t frames) {
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

void Encode(const std::string& path, const Format& f, const std::vector<uint8_t>& pcm, size_t chunk) {
  int32_t result = -1;
  AsfWmaWriter* w = OpenWriter(path.c_str(), &result);
  ASSERT_NE(w, nullptr);
  uint32_t written = 0;
  ASSERT_EQ(SetWriterOutput(w, f.bitRate, f.rate, f.channels, &written), kBridgeOk);
  ASSERT_EQ(SetWriterInput(w, f.inRate, f.inChannels, f.inBits), kBridgeOk);
  for (size_t at = 0; at < pcm.size(); at += chunk)
    ASSERT_EQ(WritePcm(w, pcm.data() + at, static_cast<uint32_t>(std::min(chunk, pcm.size() - at))), kBridgeOk);
  if (!pcm.empty()) {
    EXPECT_EQ(SetWriterInput(w, f.inRate, f.inChannels, f.inBits), kBridgeWrongState);
  }
  ASSERT_EQ(FinishWriter(w), kBridgeOk);
  CloseWriter(w);
}

Decoded Decode(const std::string& path) {
  Decoded d;
  AsfWmaReader* r = OpenReader(path.c_str(), &d.stream);
  if (!r) return d;
  d.opened = true;
  std::vector<uint8_t> block(5000);  // not a multiple of a stereo frame on purpose
  while (d.state == kBridgeMore) {
    const uint32_t n = ReadPcm(r, block.data(), static_cast<uint32_t>(block.size()), &d.state);
    EXPECT_EQ(n % (2 * d.stream.channels), 0u);
    const auto* s = reinterpret_cast<const int16_t*>(block.data());
    d.pcm.insert(d.pcm.end(), s, s + n / 2);
  }
  CloseReader(r);
  return d;
}

double SnrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < ref.size() && i < got.size(); ++i) {
    signal += double(ref[i]) * ref[i];
    noise += (double(ref[i]) - got[i]) * (double(ref[i]) - got[i]);
  }
  return 10 * std::log10(signal / (noise + 1e-9));
}

TEST(WmaCodec, RoundTripGivesBackExactlyTheSamplesGiven) {
  struct Case {
    Format f;
    uint32_t frames;
    size_t chunk;
    uint32_t expectFrames;  // at the file's rate
  } cases[] = {
      {{128000, 44100, 2, 44100, 2, 16}, 30001, 65536, 30001},  // the encoder's frame: 2048
      {{5000, 8000, 1, 8000, 1, 16}, 4000, 3, 4000},           // below the floor; writes cut mid-sample
      {{32000, 22050, 2, 22050, 2, 8}, 11111, 777, 11111},      // 8-bit input, frame 1024
      {{96000, 44100, 2, 22050, 1, 16}, 22050, 4096, 44100},    // mono 22 kHz into a stereo 44 kHz file
      {{64000, 32000, 2, 32000, 2, 16}, 0, 1, 0},               // nothing written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.f.bitRate);
    const std::string path = TempPath("roundtrip.wma");
    const std::vector<uint8_t> pcm = Sine(c.f.inRate, c.f.inChannels, c.f.inBits, c.frames);
    Encode(path, c.f, pcm, c.chunk);
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.state, kBridgeEnded);
    EXPECT_EQ(d.stream.sampleRate, c.f.rate);
    EXPECT_EQ(d.stream.channels, c.f.channels);
    EXPECT_EQ(d.stream.bitRate, std::max<uint32_t>(c.f.bitRate, 24000));
    EXPECT_EQ(d.stream.durationMs, (uint64_t{c.expectFrames} * 1000 + c.f.rate / 2) / c.f.rate);
    EXPECT_EQ(d.pcm.size(), size_t{c.expectFrames} * c.f.channels);
    if (c.f.inRate == c.f.rate && c.f.inChannels == c.f.channels && c.f.inBits == 16 && c.frames) {
      const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
      EXPECT_GT(SnrDb(std::vector<int16_t>(s, s + pcm.size() / 2), d.pcm), 20.0);
    }
  }
}

TEST(WmaCodec, RefusesWhatItCannotWrite) {
  int32_t result = 0;
  AsfWmaWriter* w = OpenWriter(TempPath("refused.wma").c_str(), &result);
  ASSERT_NE(w, nullptr);
  uint32_t written = 0;
  EXPECT_EQ(SetWriterOutput(w, 128000, 96000, 2, &written), kBridgeRefused);  // above the codec's rates
  EXPECT_EQ(SetWriterOutput(w, 128000, 44100, 3, &written), kBridgeRefused);
  EXPECT_EQ(SetWriterInput(w, 44100, 2, 24), kBridgeRefused);
  EXPECT_EQ(WritePcm(w, nullptr, 0), kBridgeWrongState);  // no formats yet
  CloseWriter(w);
  EXPECT_EQ(OpenWriter("/nonexistent-dir/x.wma", &result), nullptr);
  EXPECT_EQ(result, kBridgeNoFile);
}

TEST(WmaCodec, DamagedFilesEndWithWhatDecodedAndSayTheyAreDamaged) {
  const std::string good = TempPath("good.wma");
  const Format f{64000, 44100, 2, 44100, 2, 16};
  Encode(good, f, Sine(44100, 2, 16, 44100), 65536);
  const Decoded whole = Decode(good);
  std::ifstream in(good, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  const std::string bad = TempPath("bad.wma");
  auto write = [&](const std::vector<char>& b) { std::ofstream(bad, std::ios::binary).write(b.data(), b.size()); };

  // Cut anywhere: refused while the header is incomplete, otherwise the start of the
  // whole decode (its last frames may differ) and a damaged end.
  for (size_t cut = 0; cut < bytes.size(); cut += bytes.size() / 23 + 1) {
    SCOPED_TRACE(cut);
    write(std::vector<char>(bytes.begin(), bytes.begin() + cut));
    const Decoded d = Decode(bad);
    if (!d.opened) continue;
    EXPECT_EQ(d.state, kBridgeDamaged);
    ASSERT_LE(d.pcm.size(), whole.pcm.size());  // a cut in the closing silence loses nothing
    const size_t settled = d.pcm.size() > 2 * 2048 * 2 ? d.pcm.size() - 2 * 2048 * 2 : 0;
    EXPECT_TRUE(std::equal(d.pcm.begin(), d.pcm.begin() + settled, whole.pcm.begin()));
  }
  // Bytes overwritten anywhere: decoding ends, never with more than the stream holds.
  for (size_t at = 0; at < bytes.size(); at += bytes.size() / 17 + 1) {
    SCOPED_TRACE(at);
    std::vector<char> b = bytes;
    for (size_t i = at; i < at + 64 && i < b.size(); ++i) b[i] = static_cast<char>(i * 37);
    write(b);
    const Decoded d = Decode(bad);
    EXPECT_LE(d.pcm.size(), whole.pcm.size());
  }
  // Not ASF at all.
  write(std::vector<char>(4096, 'x'));
  EXPECT_FALSE(Decode(bad).opened);
}

}  // namespace
