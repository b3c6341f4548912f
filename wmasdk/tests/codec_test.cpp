// The FFmpeg core natively, with the sanitizers: our writer and reader round-trip exactly
// the samples given whatever the PCM's shape, and damaged files end early but safely.
#include "ffmpeg_reader.h"
#include "ffmpeg_writer.h"

#include <gtest/gtest.h>

#include "wma_stream_tag.h"
#include "wma_test_files.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace wmacore;
using namespace wmacore::testfiles;

namespace {

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
    double snrFloor;        // where the PCM goes in unconverted
  } cases[] = {
      {{128000, 44100, 2, 44100, 2, 16}, 30001, 65536, 30001, 25},  // the encoder's frame: 2048
      {{5000, 8000, 1, 8000, 1, 16}, 4000, 3, 4000, 10},           // the table's lowest rate; writes cut mid-sample (11.0 dB)
      {{32000, 22050, 2, 22050, 2, 8}, 11111, 777, 11111, 0},       // 8-bit input, frame 1024
      {{96000, 44100, 2, 22050, 1, 16}, 22050, 4096, 44100, 0},     // mono 22 kHz into a stereo 44 kHz file
      {{64000, 32000, 2, 32000, 2, 16}, 0, 1, 0, 0},                // nothing written
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.f.bitRate);
    const std::string path = TempPath("roundtrip.wma");
    const std::vector<uint8_t> pcm = Sine(c.f.inRate, c.f.inChannels, c.f.inBits, c.frames);
    Encode(path, c.f, pcm, c.chunk);
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.opened);
    EXPECT_EQ(d.state, kEnded);
    EXPECT_EQ(d.stream.sampleRate, c.f.rate);
    EXPECT_EQ(d.stream.channels, c.f.channels);
    EXPECT_EQ(d.stream.bitRate, c.f.bitRate);
    EXPECT_EQ(d.stream.durationMs, (uint64_t{c.expectFrames} * 1000 + c.f.rate / 2) / c.f.rate);
    EXPECT_EQ(d.pcm.size(), size_t{c.expectFrames} * c.f.channels);
    if (c.f.inRate == c.f.rate && c.f.inChannels == c.f.channels && c.f.inBits == 16 && c.frames) {
      const auto* s = reinterpret_cast<const int16_t*>(pcm.data());
      EXPECT_GT(SnrDb(std::vector<int16_t>(s, s + pcm.size() / 2), d.pcm), c.snrFloor);
    }
  }
}

TEST(WmaCodec, RefusesWhatItCannotWrite) {
  int32_t result = 0;
  AsfWmaWriter* w = OpenWriter(TempPath("refused.wma").c_str(), &result);
  ASSERT_NE(w, nullptr);
  uint32_t written = 0;
  EXPECT_EQ(SetWriterOutput(w, 128000, 96000, 2, &written), kRefused);  // above the codec's rates
  EXPECT_EQ(SetWriterOutput(w, 128000, 44100, 3, &written), kRefused);
  EXPECT_EQ(SetWriterOutput(w, 0, 44100, 2, &written), kRefused);
  EXPECT_EQ(SetWriterOutput(w, 100, 8000, 1, &written), kRefused);        // packets too small to hold a frame
  EXPECT_EQ(SetWriterOutput(w, 8000000, 44100, 2, &written), kRefused);   // packets beyond the format's size
  EXPECT_EQ(SetWriterOutput(w, 0x80000000u, 44100, 2, &written), kRefused);
  EXPECT_EQ(SetWriterInput(w, 44100, 2, 24), kRefused);
  EXPECT_EQ(WritePcm(w, nullptr, 0), kWrongState);  // no formats yet
  CloseWriter(w);
  EXPECT_EQ(OpenWriter("/nonexistent-dir/x.wma", &result), nullptr);
  EXPECT_EQ(result, kNoFile);
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
  // whole decode (its last frames may differ) and a damaged end; a cut in the last ASF
  // packet's padding loses nothing.
  for (size_t cut = 0; cut < bytes.size(); cut += bytes.size() / 23 + 1) {
    SCOPED_TRACE(cut);
    write(std::vector<char>(bytes.begin(), bytes.begin() + cut));
    const Decoded d = Decode(bad);
    if (!d.opened) continue;
    ASSERT_LE(d.pcm.size(), whole.pcm.size());
    // Whatever is lost says so; a cut packet is damage even where its samples were not needed.
    if (d.pcm.size() < whole.pcm.size()) EXPECT_EQ(d.state, kDamaged);
    else EXPECT_NE(d.state, kMore);
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

TEST(WmaCodec, SampleCountTagTakesItsTwoFormsOnly) {
  struct Case {
    const char* value;
    int64_t samples;
    uint32_t rate, channels;
  } cases[] = {
      {"0000000000030001 022050 1", 30001, 22050, 1},
      {"0000000000030001", 30001, 0, 0},  // earlier versions: the count alone
      {"000000000003000", -1, 0, 0},
      {"0000000000030001 22050 1", -1, 0, 0},
      {"0000000000030001 022050 0", -1, 0, 0},
      {"00000000000300x1 022050 1", -1, 0, 0},
      {"", -1, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const SampleCountTag tag = ParseSampleCountTag(c.value);
    EXPECT_EQ(tag.samples, c.samples);
    EXPECT_EQ(tag.rate, c.rate);
    EXPECT_EQ(tag.channels, c.channels);
  }
}

// Files made by ffmpeg carry no count: the length comes from the header's duration, and
// a cut copy ends as damaged, not as if it were whole.
TEST(WmaCodec, ForeignFilesAnnounceTheirLengthAndEndDamagedWhenCut) {
  struct Case {
    const char* codec;
    uint32_t rate, channels;
  } cases[] = {{"wmav2", 44100, 2}, {"wmav1", 22050, 1}, {"wmav2", 16000, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    const std::string wav = TempPath("foreign.wav"), wma = TempPath("foreign.wma");
    ASSERT_TRUE(Ffmpeg("-f lavfi -i sine=f=440:r=" + std::to_string(c.rate) + ":d=3 -ac " +
                       std::to_string(c.channels) + " " + wav));
    ASSERT_TRUE(Ffmpeg("-i " + wav + " -c:a " + c.codec + " -b:a 64k " + wma));
    const int64_t seconds3 = 3 * int64_t{c.rate};
    const Decoded whole = Decode(wma);
    ASSERT_TRUE(whole.opened);
    EXPECT_EQ(whole.state, kEnded);
    EXPECT_NEAR(whole.stream.samples, seconds3, 2 * 2048);
    EXPECT_NEAR(static_cast<double>(whole.pcm.size() / c.channels), seconds3, 2 * 2048);

    std::vector<char> bytes = ReadAll(wma);
    bytes.resize(bytes.size() * 6 / 10);
    WriteAll(wma, bytes);
    const Decoded cut = Decode(wma);
    ASSERT_TRUE(cut.opened);
    EXPECT_EQ(cut.stream.samples, whole.stream.samples);
    EXPECT_EQ(cut.state, kDamaged);
    EXPECT_LT(cut.pcm.size(), whole.pcm.size() * 7 / 10);
  }
}

// Our writer's count is believed only where it describes the stream it sits in.
TEST(WmaCodec, StoredCountIsBelievedOnlyWhereItDescribesTheStream) {
  const std::string ours = TempPath("ours.wma"), other = TempPath("other.wma");
  Encode(ours, {32000, 22050, 1, 22050, 1, 16}, Sine(22050, 1, 16, 30001), 4096);
  struct Case {
    const char* what;
    int64_t min, max;  // delivered samples per channel
  } cases[] = {
      {"as written", 30001, 30001},
      {"re-encoded at twice the rate", 60002 - 4096, 60002 + 3 * 2048},
      {"count forged", 30002, 30001 + 3 * 1024},
      {"key in other case", 30002, 30001 + 3 * 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string path = ours;
    if (c.what[0] == 'r') {
      ASSERT_TRUE(Ffmpeg("-i " + ours + " -ar 44100 -c:a wmav2 -b:a 64k " + other));
      path = other;
    } else if (c.what[0] != 'a') {
      std::vector<char> b = ReadAll(ours);
      ASSERT_TRUE(c.what[0] == 'c' ? Replace(b, "0000000000030001", "0000999999999999")
                                   : Replace(b, "VellSampleCount", "vellSampleCount"));
      WriteAll(other, b);
      path = other;
    }
    const Decoded d = Decode(path);
    ASSERT_TRUE(d.opened);
    const int64_t got = static_cast<int64_t>(d.pcm.size() / d.stream.channels);
    EXPECT_GE(got, c.min);
    EXPECT_LE(got, c.max);
    EXPECT_LE(d.stream.samples, c.max);
  }
}

// A content encryption object of either kind in the header: refused at open.
TEST(WmaCodec, ProtectedFilesAreRefused) {
  const std::string ours = TempPath("clear.wma"), bad = TempPath("protected.wma");
  Encode(ours, {64000, 44100, 2, 44100, 2, 16}, Sine(44100, 2, 16, 8192), 65536);
  const std::vector<char> clear = ReadAll(ours);
  const uint8_t guids[][16] = {
      {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11, 0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E},
      {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C, 0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C},
  };
  for (const auto& guid : guids) {
    // The object: its GUID, its size (40), and four empty length-prefixed fields.
    std::vector<char> object(40, 0);
    std::copy(guid, guid + 16, object.begin());
    object[16] = 40;
    std::vector<char> b = clear;
    b.insert(b.begin() + 30, object.begin(), object.end());
    b[16] = static_cast<char>(static_cast<uint8_t>(b[16]) + 40);  // the header's size and count
    if (static_cast<uint8_t>(b[16]) < 40) ++b[17];
    ++b[24];
    WriteAll(bad, b);
    int32_t result = kOk;
    StreamInfo info;
    EXPECT_EQ(OpenReader(bad.c_str(), &info, &result), nullptr);
    EXPECT_EQ(result, kProtected);
  }
  EXPECT_TRUE(Decode(ours).opened);
}

TEST(WmaCodec, AStoppedReaderEndsAtOnceAsDamaged) {
  const std::string path = TempPath("stopped.wma");
  Encode(path, {64000, 44100, 2, 44100, 2, 16}, Sine(44100, 2, 16, 44100), 65536);
  int32_t result = kFailed;
  StreamInfo info;
  AsfWmaReader* r = OpenReader(path.c_str(), &info, &result);
  ASSERT_NE(r, nullptr);
  std::vector<uint8_t> block(4096);
  uint32_t state = kMore;
  EXPECT_GT(ReadPcm(r, block.data(), 4096, &state), 0u);
  StopReader(r);
  uint32_t total = 0;
  for (int i = 0; i < 100 && state == kMore; ++i) total += ReadPcm(r, block.data(), 4096, &state);
  EXPECT_EQ(state, kDamaged);
  EXPECT_LT(total, 44100u * 4 / 2);  // what was already decoded, not the rest of the file
  CloseReader(r);
}

}  // namespace
